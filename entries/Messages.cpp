#include "entries/Messages.h"

#include <cstdio>

namespace quorvane::entries_text {

namespace {

std::string numberedText(const char* verb, int number, int count) {
    return std::string(verb) + " File " + std::to_string(number) + " of " + std::to_string(count) +
           "...";
}

std::string problemLines(const std::vector<ExtractProblem>& problems) {
    std::string lines;
    for (const auto& problem : problems)
        lines += "\nEntry " + std::to_string(problem.entryNumber) + " " +
                 printableName(problem.name) + ": " + problem.detail;
    return lines;
}

} // namespace

std::string addingFileOf(int number, int count) {
    return numberedText("Adding", number, count);
}

std::string extractingFileOf(int number, int count) {
    return numberedText("Extracting", number, count);
}

std::string fileTooLargeFor(const std::string& path) {
    return std::string(FileTooLarge) + "\n" + path;
}

std::string sourceUnreadable(const std::string& path, const std::string& reason) {
    return "The file could not be read, so it was not stored and the original was left as it "
           "is:\n" +
           path + "\n" + reason;
}

std::string safeNotWritten(const std::string& path) {
    return "The file was not stored: the safe's working copy could not be written. The safe "
           "is as it was and the original was left as it is:\n" +
           path;
}

std::string originalChangedNotErased(const std::string& path) {
    return "The original file was changed after it was stored, so it was not erased:\n" + path;
}

std::string originalIsLinkNotErased(const std::string& path) {
    return "The original is a symbolic link, so it was not erased: overwriting through a link "
           "would destroy whatever file it points to now. The stored copy stays in the safe; "
           "the link and its file were left as they are:\n" +
           path;
}

std::string originalHasOtherNamesNotErased(const std::string& path) {
    return "The original file has more than one name (hard links), so it was not erased: "
           "overwriting it would destroy the content under its other names too, and deleting "
           "this name alone would not remove the data. The stored copy stays in the safe; the "
           "file was left as it is:\n" +
           path;
}

std::string originalNotErased(const std::string& path, const std::string& reason) {
    return "The original file could not be securely erased, so it was not deleted. The stored "
           "copy stays in the safe:\n" +
           path + "\n" + reason;
}

std::string originalNameNowAnotherFile(const std::string& path) {
    return "The original file was overwritten, but meanwhile its name came to stand for another "
           "file, so that name and that file were left as they are. The stored copy stays in "
           "the safe:\n" +
           path;
}

std::string printableName(const std::string& name) {
    // Names come from safes made anywhere; a line break or an escape
    // sequence in one must not reshape the message it is shown in.
    std::string shown = "\"";
    for (char c : name) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(byte));
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown + "\"";
}

std::string skippedEntriesReport(const std::vector<ExtractProblem>& skipped) {
    return std::to_string(skipped.size()) + (skipped.size() == 1 ? " entry was" : " entries were") +
           " not extracted, so that nothing is written outside the chosen folder and nothing "
           "there but ordinary files is replaced:" +
           problemLines(skipped);
}

std::string failedEntriesReport(const std::vector<ExtractProblem>& failed) {
    return std::to_string(failed.size()) +
           (failed.size() == 1 ? " entry could" : " entries could") +
           " not be written; the other selected entries were extracted:" + problemLines(failed);
}

} // namespace quorvane::entries_text
