#pragma once

// The tool's own texts. Where the window has a text for the same situation,
// the operations below show that one; these cover what only a terminal has.

#include "cli/ProgressLine.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quorvane::clitext {

inline constexpr const char* MessagePrefix = "quorvane-cli: ";

inline constexpr const char* PasswordPrompt = "Password: ";
inline constexpr const char* RepeatPasswordPrompt = "Repeat password: ";
inline constexpr const char* NewPasswordPrompt = "New password: ";
inline constexpr const char* RepeatNewPasswordPrompt = "Repeat new password: ";
inline constexpr const char* PasswordsDiffer = "Passwords do not match";
inline constexpr const char* PasswordTooLong = "password is longer than 249 bytes";
inline constexpr const char* StandardInput = "standard input";
inline constexpr const char* PasswordHasNul = "password contains a zero byte";
inline constexpr const char* NoTerminal =
    "no terminal to ask for the password; use --password-file";
inline constexpr const char* ConfirmEmptyPassword =
    "The password is empty: anyone could open the safe. Use an empty password? [y/N] ";
inline constexpr const char* EmptyPasswordNotConfirmed = "empty password not confirmed";

// source: the password file's name, or StandardInput.
inline std::string firstLineTooLong(const std::string& source) {
    return source + ": the first line is longer than 249 bytes, the most a password may have";
}

// option: the option that named the password file.
inline std::string emptyPasswordRefused(const std::string& option) {
    return "the new password from " + option +
           " is empty; give --allow-empty-password to use an empty password";
}

inline constexpr const char* SafeExists = "already exists; use --force to replace it";
inline constexpr const char* NotADirectory = "is not a directory";
// reason: why the safe's folder takes no new file (the system's words).
inline std::string folderRefusesChange(const std::string& reason) {
    return "its folder takes no new file (" + reason +
           "), so the safe cannot be written; nothing was done";
}
// path: a file in DIR of an extraction that has an entry's name and other bytes.
inline std::string existingFileQuestion(const std::string& path) {
    return path +
           ": a different file of this name is there. Replace it, skip the entry, or keep both "
           "(the entry under a new name)? [r/s/k, Enter: k; R/S/K: the same for all] ";
}
// reason: why DIR of an extraction could not be made.
inline std::string folderNotMade(const std::string& reason) {
    return "the folder could not be made: " + reason;
}
inline constexpr const char* NoSuchEntry = "no entry with this number in the safe";
inline constexpr const char* NoEntryOfThisName = "no entry of this name in the safe";
inline constexpr const char* NoFoldersInPlainSafe =
    "a plain safe keeps no folders; a sealed safe keeps them (quorvane-cli seal SAFE)";
inline constexpr const char* IsAFolder = "is a folder";
inline constexpr const char* FolderNotListed = "the folders in it could not be listed";
inline constexpr const char* FolderNeedsRecursive =
    "is a folder: --recursive deletes it with everything in it";
inline constexpr const char* NotAFolderOfTheSafe = "is a file of the safe, not a folder";
inline std::string deleteFolderQuestion(const std::string& path, std::size_t inside) {
    return "Delete the folder " + path + " and the " + std::to_string(inside) +
           (inside == 1 ? " entry" : " entries") + " in it? [y/N] ";
}
// rows: the numbers of the entries that carry name, at least two.
inline std::string nameMatchesSeveral(const std::string& name, const std::vector<int>& rows) {
    std::string numbers;
    for (int row : rows)
        numbers += (numbers.empty() ? "" : ", ") + std::to_string(row);
    return name + ": matches entries " + numbers + "; give a number";
}
// path: a file as the command line gives it; stored: the part of its name that the safe keeps.
inline std::string nameShortened(const std::string& path, const std::string& stored) {
    return path + ": stored as " + stored + " (names keep at most 50 bytes)";
}
// path: a file added; stored: its name in the safe, which an entry had already.
inline std::string nameTaken(const std::string& path, const std::string& stored) {
    return path + ": stored as " + stored + ", which another entry already has";
}
// path: something in an added folder that was not stored, and why.
inline std::string passedOver(const std::string& path, const std::string& why) {
    return path + ": not added: " + why;
}
// --quiet: what the lines about single files of an add would have said,
// counted; a part whose count is 0 is left out.
inline std::string fileNotesSummary(std::uint64_t cut, std::uint64_t taken,
                                    std::uint64_t passedOver) {
    std::string line;
    const auto part = [&line](std::uint64_t count, const char* one, const char* several) {
        if (count != 0)
            line += (line.empty() ? "" : "; ") + groupedCount(count) + (count == 1 ? one : several);
    };
    part(cut, " stored name was cut to 50 bytes", " stored names were cut to 50 bytes");
    part(taken, " stored name is one that another entry has too",
         " stored names are ones that other entries have too");
    part(passedOver, " file in the folders was not added", " files in the folders were not added");
    return line;
}
// add --update, once the safe is written.
inline std::string updateSummary(std::uint64_t added, std::uint64_t replaced,
                                 std::uint64_t unchanged) {
    return groupedCount(added) + " added, " + groupedCount(replaced) + " replaced, " +
           groupedCount(unchanged) + " unchanged";
}
inline constexpr const char* NameTooLong = "NEWNAME is longer than 49 bytes";
inline constexpr const char* PartTooLong = "a name in NEWNAME is longer than 255 bytes";
inline constexpr const char* NoWorkingFolder =
    "cannot create a private working folder in the temporary directory (TMPDIR): ";
inline constexpr const char* ListNotWritten = "the list could not be written";
inline std::string entryNotWritten(const std::string& reason) {
    return "the entry could not be written to standard output: " + reason;
}
inline constexpr const char* EntryNotRead = "the entry could not be read from the safe in full";
inline constexpr const char* OriginalNotDeleted = "stored, but the original could not be deleted";

inline constexpr const char* UnknownFailure = "unknown failure";
// what: the failure that stopped the tool; nothing of the working folder remains.
inline std::string internalError(const std::string& what) {
    return "stopped by an internal error: " + what;
}
inline constexpr const char* FolderNotEmpty = "is not an empty folder";
inline constexpr const char* NotMounted = "the folder could not be mounted: ";
inline constexpr const char* FolderReadOnly =
    "the safe did not load cleanly: the folder is read-only";
inline constexpr const char* WaitingForOpenFiles =
    "a file in the folder is still open; the folder closes once it is closed "
    "(Ctrl-C again closes it now, and what is being written to it is lost)";
// dir: the mount point, as an absolute path.
inline std::string folderOpen(const std::string& dir) {
    return "The safe is open as the folder " + dir + "; close it with Ctrl-C or 'fusermount3 -u " +
           dir + "'.\n";
}
// name: a file closed in the folder that could not become an entry.
inline std::string notStored(const std::string& name, const std::string& reason) {
    return name + ": could not be stored in the safe (" + reason +
           "); it stays in the folder and is tried again before the next save";
}
inline std::string timedSaveFailed(const std::string& reason) {
    return "the safe could not be written (" + reason + "); it is tried again in a minute";
}
// After the folder closed: what could not be written yet is kept, not dropped.
inline std::string finalSaveFailed(const std::string& reason) {
    return "the safe could not be written (" + reason + ")";
}
inline std::string finalStoreFailed(const std::string& name, const std::string& reason) {
    return name + ": could not be stored in the safe (" + reason + ")";
}
// seconds: until the next try; what: what giving up would lose.
inline std::string keptUntilWritten(int seconds, const std::string& what) {
    return "nothing is given up: it is tried again in " + std::to_string(seconds) +
           " seconds, until it succeeds. Ctrl-C twice gives up " + what;
}
inline std::string askAgainToGiveUp(const std::string& what) {
    return "Ctrl-C again gives up " + what + "; the safe file keeps its last saved state";
}
inline std::string givenUp(const std::string& what) {
    return "given up: " + what;
}
// names: files closed in the folder that never became entries.
inline std::string unsavedWork(bool changes, const std::string& names) {
    std::string what = changes ? "the changes made in the folder since the last save" : "";
    if (!names.empty())
        what += (what.empty() ? "" : ", and ") + std::string("the files ") + names;
    return what;
}
inline constexpr const char* FolderRefusedInPlainSafe =
    "a folder cannot be made in this folder: a plain safe keeps one flat list of files; a "
    "sealed safe keeps folders (quorvane-cli seal SAFE)";
inline constexpr const char* StateFolderGone =
    "the private working folder was removed by another program; the folder closes now";
// The folder closed by itself: reason as closeReasonText gives it.
inline std::string folderClosed(const std::string& reason) {
    return "the folder was closed: " + reason;
}
inline std::string closingNotWritten(const std::string& reason) {
    return "the safe could not be written (" + reason +
           "); the folder stays open, and the close is tried again at the next event";
}
inline std::string closingWaits(long long seconds) {
    return "a file in the folder is still open; the folder closes once it is closed, at the "
           "latest in " +
           std::to_string(seconds) + " s";
}
// held: the files and the programs that had them open.
inline std::string closedWhileOpen(const std::string& held) {
    return "the folder was closed with files still open; what was written to them since they "
           "were opened is lost: " +
           held;
}
inline constexpr const char* AlreadySealed = "the safe is sealed already; nothing was written";
inline constexpr const char* PlainHasNothingToCompact =
    "a plain safe is written whole at every save and has no unused space; nothing was written";
inline constexpr const char* Compacting = "Compacting the safe";
inline std::string compacted(std::uint64_t before, std::uint64_t after) {
    return "the safe is compacted: " + std::to_string(before) + " bytes before, " +
           std::to_string(after) + " now";
}
inline constexpr const char* PlainHasNoSignature =
    "the plain format has no signature, so any file that is not sealed shows as plain; only "
    "its password can tell whether it is a safe";
inline constexpr const char* UnreadableSealedHeader =
    "the sealed header is cut short, of another format, or out of bounds";

inline std::string damagedSafe(std::size_t readable) {
    return "The safe is damaged: entries from number " + std::to_string(readable) +
           " on could not be read.";
}

} // namespace quorvane::clitext
