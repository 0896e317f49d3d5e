#pragma once

// Every text that the entry commands show, kept byte for byte in one place.
// The texts of the original program are kept as they were, typos included;
// the ones further down are ours and say why something was refused.

#include "entries/FolderSources.h"
#include "storage/files/EraseReach.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quorvane::entries_text {

// Captions.
inline constexpr const char* CaptionError = "Error";
inline constexpr const char* CaptionUnknownError = "Unknown Error";
inline constexpr const char* CaptionSuccess = "Success";
inline constexpr const char* CaptionSuccessBang = "Success!";
inline constexpr const char* CaptionDeleteOriginal = "Delete Original File";
inline constexpr const char* CaptionNoFileSelected = "No File Selected";

// Adding.
inline constexpr const char* EraseOriginalQuestion =
    "Would you like to Securely Erase the original file?";
inline constexpr const char* EraseOriginalsQuestion =
    "Would you like to Securely Erase the original files?";
inline constexpr const char* AreYouSure = "Are you Sure?";
inline constexpr const char* NothingOfTheDropAdded =
    "Nothing was added: a drop goes into the safe whole or not at all.";
inline constexpr const char* UnableToOpenFile = "Unable to Open File.";
inline constexpr const char* UnableToGetFilesize = "Unable to get filesize";
inline constexpr const char* AddingFile = "Adding File...";
inline constexpr const char* RemovingOriginalFile = "Removing Original File...";
inline constexpr const char* WrittenSuccessfully = "Written Successfully";
inline constexpr const char* SafeNotOpen = "Safe Not open";

// What an added folder held that is not stored, and why.
inline constexpr const char* CaptionNotAdded = "Not Added";
inline constexpr const char* PassedOverLink = "a symbolic link, which is not followed";
inline constexpr const char* PassedOverNotRegular =
    "not a regular file (a FIFO, a device or a socket)";
inline constexpr const char* PassedOverEmpty = "empty; a safe stores no empty files";
// One line per path, escaped: "PATH: why".
std::string passedOverReport(const std::vector<PassedOver>& passedOver);
// "Unable to get filesize" with the path below it.
std::string unableToGetFilesizeOf(const std::string& path);
// A folder of a drop whose content could not be listed: nothing was added.
std::string folderNotListed(const std::string& path, const std::string& reason);

// Extracting.
inline constexpr const char* SelectADirectory = "Select a Directory";
inline constexpr const char* ExtractionFailed = "Extraction failed.";

// Deleting and renaming.
inline constexpr const char* DeleteFailed = "Delete failed.";
inline constexpr const char* RemovingFile = "Removing File...";
inline constexpr const char* FileDeleted = "File deleted";
inline constexpr const char* RenameFailed = "Rename failed.";
// A new name that extracting would refuse, refused by Rename and why.
inline constexpr const char* RenameRefusedEmpty =
    "The entry was not renamed: the new name is empty, and an entry without a name cannot be "
    "extracted.";
inline constexpr const char* RenameRefusedSeparator =
    "The entry was not renamed: the new name holds \"/\", which separates folders; an entry "
    "is extracted as one file, so its name cannot hold one.";
inline constexpr const char* RenameRefusedDots =
    "The entry was not renamed: \".\" and \"..\" stand for folders, not for a file.";
inline constexpr const char* RenameRefusedControl =
    "The entry was not renamed: the new name holds a control character (a line break, a tab, "
    "an escape), which would garble it wherever it is shown.";

// A drop: the question about erasing the originals, naming how many they are.
std::string eraseOriginalsQuestion(std::uint64_t count, std::uint64_t bytes);
// While the dropped folders are gone through.
inline constexpr const char* LookingAtDrop = "Looking at the dropped files...";

// Folders.
inline constexpr const char* CaptionDeleteFolder = "Delete Folder";
inline constexpr const char* FoldersOnlyInSealedSafes =
    "This safe keeps one flat list of files and no folders. A sealed safe keeps folders: Safe "
    "Options > Seal Safe... makes this one sealed.";
inline constexpr const char* FoldersLeftOut =
    "The dropped folders were not kept: this safe holds one flat list, so their files were "
    "added side by side. A sealed safe keeps folders (Safe Options > Seal Safe...).";
inline constexpr const char* FolderNotMade = "The folder could not be made:";
inline constexpr const char* FolderNotDeleted = "The folder could not be deleted:";
inline constexpr const char* FolderNotRenamed = "The folder could not be renamed:";
// "Delete the folder "Taxes" and the 12 files in it?"
std::string deleteFolderQuestion(const std::string& path, std::size_t files);

// After an add: the names that the safe keeps other than the files had them.
struct StoredName {
    std::string path;   // the file added
    std::string stored; // its name in the safe
};
inline constexpr const char* CaptionStoredNames = "Stored Names";
// One summary line, then one line per name: "PATH: stored as NAME ...".
std::string storedNamesReport(const std::vector<StoredName>& cut,
                              const std::vector<StoredName>& doubled);

// A drop refused whole, since the safe (which keeps one entry per path)
// holds these paths already: one summary line, then one path per line.
std::string pathsTakenReport(const std::vector<std::string>& paths);

// "Adding File %d of %d..."
std::string addingFileOf(int number, int count);
// "Extracting File %d of %d..."
std::string extractingFileOf(int number, int count);

// Our own words for what the original program did not check.
inline constexpr const char* FileTooLarge =
    "The file is too large: a safe holds files smaller than 4 GiB and at most 4 GiB in all.";
std::string fileTooLargeFor(const std::string& path);
std::string sourceUnreadable(const std::string& path, const std::string& reason);
// The reasons given there when the system gives none.
inline constexpr const char* SourceNotReadInFull = "It could not be read in full.";
std::string sourceLengthChanged(std::int64_t now, std::uint64_t measured);
std::string safeNotWritten(const std::string& path);
std::string originalChangedNotErased(const std::string& path);
std::string originalIsLinkNotErased(const std::string& path);
std::string originalHasOtherNamesNotErased(const std::string& path);
std::string originalNotErased(const std::string& path, const std::string& reason);
std::string originalNameNowAnotherFile(const std::string& path);
// Told after an original was overwritten and deleted when the overwrite may
// not have reached its old blocks; one line, the path at its end.
std::string erasedButRecoverable(const std::string& path, const EraseReach& reach);
// A sealed safe of the second version refuses a change by its own rules (a
// second file of one name) or for the system's reason (error, an errno
// value): said as it is, since nothing was written and the session goes on.
std::string vaultRefusalReason(int error);
std::string vaultAddRefused(const std::string& path, int error);
std::string vaultRenameRefused(int error);
std::string vaultDeleteRefused(int error);
inline constexpr const char* DeleteNotDone =
    "The file could not be deleted: the safe's working copy could not be rewritten. "
    "The list shows what the safe holds now.";
inline constexpr const char* RenameNotWritten =
    "The new name could not be written into the safe's working copy. The safe file keeps its "
    "last saved state; this session is now read-only: extract what you need, then open the "
    "safe again.";
inline constexpr const char* DeleteTornWorkingCopy =
    "The file could not be deleted, and the safe's working copy was left incomplete. The safe "
    "file keeps its last saved state; this session is now read-only: extract what you need, "
    "then open the safe again.";
inline constexpr const char* WorkingCopyNotReadNow =
    "The safe's working copy could not be read again after the change, so this session is now "
    "read-only: ";

// One entry that Extract did not write, and why.
struct ExtractProblem {
    int entryNumber = 0;
    std::string name;
    std::string detail;
};
// A stored name as it can be shown safely, in quotes: every byte of what
// would act on a terminal or a text box rather than show (controls, C1
// controls, line separators, direction marks) and every byte that is no
// UTF-8 as \xNN.
std::string printableName(const std::string& name);
// The same without the quotes, for a name inside a path.
std::string escapedName(const std::string& name);
// The entries that went under a free name because a file of their own name
// had been written by the same extraction; detail: the name each went under.
std::string renamedEntriesReport(const std::vector<ExtractProblem>& renamed);
std::string skippedEntriesReport(const std::vector<ExtractProblem>& skipped);
// The entries written under a free name beside a different file of their
// name, which was kept; detail: the name each went under.
std::string keptBesideReport(const std::vector<ExtractProblem>& kept);
// The entries not written, so that the different file of their name stays.
std::string existingKeptReport(const std::vector<ExtractProblem>& left);
std::string failedEntriesReport(const std::vector<ExtractProblem>& failed);
// A folder of the safe that extracting could not make (where it would be made, and why).
struct UnmadeFolder {
    std::string path;
    std::string detail;
};
std::string unmadeFoldersReport(const std::vector<UnmadeFolder>& folders);
inline constexpr const char* NameNotPlain =
    "its name is not a plain file name (empty, \".\", \"..\", or holding \"/\" or a zero byte)";
inline constexpr const char* TargetNotPlainFile =
    "something that is not an ordinary file (a folder, a link, a device) already has that name";
inline constexpr const char* WorkingCopyUnreadable = "the safe's working copy could not be read";
// A sealed safe's file whose stored bytes do not open: only that file fails.
inline constexpr const char* StoredFileDamaged =
    "the file is damaged in the safe (the part of the safe file that holds it was changed or cut "
    "off)";
// Said after the reason when an entry could not be written in full, or not put
// in place once it was.
inline constexpr const char* IncompleteFileRemoved = "; the incomplete file was removed";
inline constexpr const char* ExtractedCopyRemoved = "; the extracted copy was removed";
inline constexpr const char* TargetIsOpenSafe =
    "that name in the chosen folder is the open safe's own file (under this or another name), "
    "which extracting never replaces";

} // namespace quorvane::entries_text
