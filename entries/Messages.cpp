#include "entries/Messages.h"

#include "entries/NameText.h"
#include "storage/workingcopy/RandomAccessFile.h"
#include "ui/ProgressFigures.h"

#include <cerrno>
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

std::string eraseOriginalsQuestion(std::uint64_t count, std::uint64_t bytes) {
    return std::string(EraseOriginalsQuestion) + "\n\n" + (count == 1 ? "This is " : "These are ") +
           groupedCount(count) + (count == 1 ? " file, " : " files, ") + shortSize(bytes) +
           " in all.";
}

std::string deleteFolderQuestion(const std::string& path, std::size_t files) {
    return "Delete the folder " + printableName(path) + " and the " + groupedCount(files) +
           (files == 1 ? " file" : " files") + " in it?";
}

std::string storedNamesReport(const std::vector<StoredName>& cut,
                              const std::vector<StoredName>& doubled) {
    std::string summary;
    std::string lines;
    if (!cut.empty())
        summary = groupedCount(cut.size()) + (cut.size() == 1 ? " name was" : " names were") +
                  " cut to fit the safe";
    if (!doubled.empty())
        summary += (summary.empty() ? "" : "; ") + groupedCount(doubled.size()) +
                   (doubled.size() == 1 ? " stored name is one that another entry has too"
                                        : " stored names are ones that other entries have too");
    for (const StoredName& name : cut)
        lines += "\n" + escapedName(name.path) + ": stored as " + escapedName(name.stored);
    for (const StoredName& name : doubled)
        lines += "\n" + escapedName(name.path) + ": stored as " + escapedName(name.stored) +
                 ", which another entry already has";
    return summary + ":" + lines;
}

std::string pathsTakenReport(const std::vector<std::string>& paths) {
    std::string lines;
    for (const std::string& path : paths)
        lines += "\n" + escapedName(path);
    return "Nothing was added: a safe with folders keeps one entry per path, and " +
           (paths.size() == 1 ? std::string("this path of the drop is")
                              : groupedCount(paths.size()) + " paths of the drop are") +
           " taken already (or named twice by the drop). Rename or delete what is there, or "
           "drop the files into another folder:" +
           lines;
}

std::string fileTooLargeFor(const std::string& path) {
    return std::string(FileTooLarge) + "\n" + escapedName(path);
}

std::string passedOverReport(const std::vector<PassedOver>& passedOver) {
    std::string lines;
    for (const auto& item : passedOver)
        lines += "\n" + escapedName(item.path) + ": " + item.why;
    return std::to_string(passedOver.size()) +
           (passedOver.size() == 1 ? " file in the added folders was"
                                   : " files in the added folders were") +
           " not added:" + lines;
}

std::string unableToGetFilesizeOf(const std::string& path) {
    return std::string(UnableToGetFilesize) + "\n" + escapedName(path);
}

std::string folderNotListed(const std::string& path, const std::string& reason) {
    return "Nothing was added: the content of this folder could not be listed:\n" +
           escapedName(path) + "\n" + reason;
}

std::string sourceUnreadable(const std::string& path, const std::string& reason) {
    return "The file could not be read, so it was not stored and the original was left as it "
           "is:\n" +
           escapedName(path) + "\n" + reason;
}

std::string sourceLengthChanged(std::int64_t now, std::uint64_t measured) {
    return "It is " + std::to_string(now) + " bytes long now, not the " + std::to_string(measured) +
           " bytes it had when it was measured.";
}

std::string safeNotWritten(const std::string& path) {
    return "The file was not stored: the safe's working copy could not be written. The safe "
           "is as it was and the original was left as it is:\n" +
           escapedName(path);
}

std::string vaultRefusalReason(int error) {
    switch (error) {
    case EEXIST:
        return "the safe has another file of this name (" + failureText(error) + ")";
    case ENOTEMPTY:
        return "it is a folder with files in it (" + failureText(error) + ")";
    case ENOENT:
    case ENOTDIR:
        return "the folder it would go in is not in the safe (" + failureText(error) + ")";
    case EISDIR:
        return "the safe has a folder of this name (" + failureText(error) + ")";
    case EINVAL:
        return "a folder cannot go inside itself (" + failureText(error) + ")";
    case ENAMETOOLONG:
        return "a name in its path is longer than 255 bytes (" + failureText(error) + ")";
    case 0:
        return "the safe could not be written";
    default:
        return "the safe could not be written (" + failureText(error) + ")";
    }
}

std::string vaultAddRefused(const std::string& path, int error) {
    return "The file was not stored: " + vaultRefusalReason(error) +
           ". The safe is as it was and the original was left as it is:\n" + escapedName(path);
}

std::string vaultRenameRefused(int error) {
    return "The entry was not renamed: " + vaultRefusalReason(error) + ".";
}

std::string vaultDeleteRefused(int error) {
    return "The file could not be deleted: " + vaultRefusalReason(error) +
           ". The list shows what the safe holds now.";
}

std::string originalChangedNotErased(const std::string& path) {
    return "The original file was changed after it was stored, so it was not erased:\n" +
           escapedName(path);
}

std::string originalIsLinkNotErased(const std::string& path) {
    return "The original is a symbolic link, so it was not erased: overwriting through a link "
           "would destroy whatever file it points to now. The stored copy stays in the safe; "
           "the link and its file were left as they are:\n" +
           escapedName(path);
}

std::string originalHasOtherNamesNotErased(const std::string& path) {
    return "The original file has more than one name (hard links), so it was not erased: "
           "overwriting it would destroy the content under its other names too, and deleting "
           "this name alone would not remove the data. The stored copy stays in the safe; the "
           "file was left as it is:\n" +
           escapedName(path);
}

std::string originalNotErased(const std::string& path, const std::string& reason) {
    return "The original file could not be securely erased, so it was not deleted. The stored "
           "copy stays in the safe:\n" +
           escapedName(path) + "\n" + reason;
}

std::string originalNameNowAnotherFile(const std::string& path) {
    return "The original file was overwritten, but meanwhile its name came to stand for another "
           "file, so that name and that file were left as they are. The stored copy stays in "
           "the safe:\n" +
           escapedName(path);
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
               escapedName(path);
    return "The original file was deleted, but its content may still be recoverable from this "
           "disk because " +
           whyRecoverable(reach) + ": " + escapedName(path);
}

std::string printableName(const std::string& name) {
    return "\"" + escapedName(name) + "\"";
}

std::string escapedName(const std::string& name) {
    // Names come from safes made anywhere; a line break, an escape sequence
    // or a mark that turns the text around must not reshape the message it
    // is shown in, nor a byte that is no UTF-8 become one on the way.
    std::string shown;
    for (std::size_t at = 0; at < name.size();) {
        if (const std::size_t length = printableSequenceAt(name, at); length > 0) {
            shown.append(name, at, length);
            at += length;
            continue;
        }
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X",
                      static_cast<unsigned>(static_cast<unsigned char>(name[at])));
        shown += escaped;
        ++at;
    }
    return shown;
}

std::string skippedEntriesReport(const std::vector<ExtractProblem>& skipped) {
    return std::to_string(skipped.size()) + (skipped.size() == 1 ? " entry was" : " entries were") +
           " not extracted, so that nothing is written outside the chosen folder and nothing "
           "there but ordinary files is replaced:" +
           problemLines(skipped);
}

std::string renamedEntriesReport(const std::vector<ExtractProblem>& renamed) {
    std::string lines;
    for (const auto& entry : renamed)
        lines += "\nEntry " + std::to_string(entry.entryNumber) + " " + printableName(entry.name) +
                 " was written as " + printableName(entry.detail);
    return std::to_string(renamed.size()) + (renamed.size() == 1 ? " entry was" : " entries were") +
           " written under a new name, as a file of its name had already been extracted:" + lines;
}

std::string keptBesideReport(const std::vector<ExtractProblem>& kept) {
    std::string lines;
    for (const auto& entry : kept)
        lines += "\nEntry " + std::to_string(entry.entryNumber) + " " + printableName(entry.name) +
                 " was written as " + printableName(entry.detail);
    return std::to_string(kept.size()) + (kept.size() == 1 ? " entry was" : " entries were") +
           " written under a new name, beside a different file of " +
           (kept.size() == 1 ? "its" : "their") + " name that was kept:" + lines;
}

std::string existingKeptReport(const std::vector<ExtractProblem>& left) {
    std::string lines;
    for (const auto& entry : left)
        lines += "\nEntry " + std::to_string(entry.entryNumber) + " " + printableName(entry.name);
    return std::to_string(left.size()) + (left.size() == 1 ? " entry was" : " entries were") +
           " not extracted, so that a different file of " + (left.size() == 1 ? "its" : "their") +
           " name stays as it was:" + lines;
}

std::string failedEntriesReport(const std::vector<ExtractProblem>& failed) {
    return std::to_string(failed.size()) +
           (failed.size() == 1 ? " entry could" : " entries could") +
           " not be written; the other selected entries were extracted:" + problemLines(failed);
}

std::string unmadeFoldersReport(const std::vector<UnmadeFolder>& folders) {
    std::string text = std::to_string(folders.size()) +
                       (folders.size() == 1 ? " folder" : " folders") +
                       " of the safe could not be made:";
    for (const UnmadeFolder& folder : folders)
        text += "\nFolder " + printableName(folder.path) + ": " + folder.detail;
    return text;
}

} // namespace quorvane::entries_text
