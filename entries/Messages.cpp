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

namespace {

// Why the old blocks may have survived, to follow "because".
std::string whyRecoverable(const EraseReach& reach) {
    const std::string& what = reach.what;
    switch (reach.why) {
    case EraseObstacle::CopyOnWrite:
        return what + " writes changes to new places (copy-on-write)";
    case EraseObstacle::LogStructured:
        return what + " writes changes to new places (log-structured)";
    case EraseObstacle::DataJournal:
        return what + " keeps a copy of the file's data in its journal (data=journal)";
    case EraseObstacle::Overlay:
        return "the overlay file system (" + what + ") leaves the file's lower layer untouched";
    case EraseObstacle::Delegated:
        return what + " hands the bytes to another machine or program, which decides where they go";
    case EraseObstacle::SharedExtents:
        return "its blocks are shared with another copy (a reflink or a snapshot), which keeps "
               "them";
    case EraseObstacle::PackedExtents:
        return what +
               " keeps it packed (inline, compressed or unaligned), not in blocks of its own";
    case EraseObstacle::VirtualDisk:
        return what + " is a virtual disk, and its host decides where the bytes go";
    case EraseObstacle::SolidState:
        return what + " is solid-state or thin-provisioned (non-rotational, or with discard) and "
                      "decides itself where the bytes go";
    case EraseObstacle::None:
    case EraseObstacle::InMemory:
    case EraseObstacle::Unknown:
        break;
    }
    return "Quorvane cannot tell how " + (what.empty() ? std::string("this disk") : what) +
           " stores changes";
}

} // namespace

std::string erasedButRecoverable(const std::string& path, const EraseReach& reach) {
    if (reach.why == EraseObstacle::InMemory)
        return "The original file was deleted; it was kept in memory (" + reach.what +
               "), not on a disk, so no disk blocks held it, though parts of it may have been "
               "swapped out to disk: " +
               path;
    return "The original file was deleted, but its content may still be recoverable from this "
           "disk because " +
           whyRecoverable(reach) + ": " + path;
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
