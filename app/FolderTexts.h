#pragma once

// What the window says about the open safe's folder.

#include <string>

namespace quorvane::folder_text {

inline constexpr const char* Caption = "Open as Folder";
inline constexpr const char* NotMounted = "The safe could not be opened as a folder.";
inline constexpr const char* NameNotShown =
    "This file's name cannot be used in a folder, so it cannot be opened there. Extract it "
    "instead.";
inline constexpr const char* StillOpen =
    "A file in the safe's folder is still open in another program.\n\nWait until it is closed? "
    "(No closes the folder now: what that program has not saved to it is lost.)";
// Where no file manager could be started for it.
inline std::string openAt(const std::string& dir) {
    return "The safe is open as the folder " + dir + "\nIt closes with the safe.";
}
inline std::string noProgramFor(const std::string& file) {
    return "No program was found to open " + file;
}
inline std::string notStored(const std::string& name) {
    return name + " could not be stored in the safe. It stays in the folder and is tried again "
                  "before the next save.";
}
// Asked as the folder closes, for a file that still could not be stored.
inline std::string tryAgainToStore(const std::string& name) {
    return name + " could not be stored in the safe, and the folder is closing.\n\nTry again? "
                  "(No gives this file up.)";
}
inline std::string reallyGiveUp(const std::string& name) {
    return "Give up " + name + "? What was written to it in the folder is lost.";
}
// Told (on standard error) when the program ends with nobody to answer.
inline std::string givenUpAtEnd(const std::string& name) {
    return name + " could not be stored in the safe as the program ended; what was written to "
                  "it in the folder is lost.";
}
inline constexpr const char* TimedSaveFailed =
    "The safe could not be written after the changes made in its folder. It is tried again in a "
    "minute; Save tries at once.";

} // namespace quorvane::folder_text
