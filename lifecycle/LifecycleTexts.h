#pragma once

// Every text that creating, opening, saving and closing a safe shows, byte for
// byte as users of earlier versions know them (typos included).

namespace quorvane::lifecycle_text {

inline constexpr const char* Error = "Error";
inline constexpr const char* UnknownError = "Unknown Error";
inline constexpr const char* Information = "Information";
inline constexpr const char* SuccessBang = "Success!";
inline constexpr const char* Success = "Success";

inline constexpr const char* IncompatibleFile = "Incompattible file";
inline constexpr const char* UnableToReadFile = "Unable to Read File!";

inline constexpr const char* OpeningSafe = "Opening Safe Please Wait...";
inline constexpr const char* OpeningFile = "Opening File Please Wait...";
inline constexpr const char* InvalidFileOrPassword = "Invalid File or Password";
inline constexpr const char* FailedToOpenFile = "Failed to Open File!";
inline constexpr const char* CouldNotOpenFile = "Could not Open File.";
inline constexpr const char* UnknownErrorOccurred = "A Unknown Error has Occured";

inline constexpr const char* FileCreationFailed = "File Creation Failed!";
inline constexpr const char* FileCreated = "File Created Successfully";

inline constexpr const char* ChangesSaved = "Changes Saved";
inline constexpr const char* FailedToSave = "Failed to Save file!";
inline constexpr const char* SecurelyClosing = "Securely Closing Safe...";
inline constexpr const char* Closing = "Closing Safe...";
// Shown while Save, or the switch to another safe, writes the open safe.
inline constexpr const char* Saving = "Saving Safe Please Wait...";
// Asked after a failed save at closing: the only way to lose the changes.
inline constexpr const char* CloseWithoutSaving = "Failed to Save file! Close without saving?";

inline constexpr const char* SafeChangedInPlace =
    "The safe file was changed by another program while it was open. Nothing was written to "
    "it; the safe is open read-only. Close it and open it again to see what it holds now.";
inline constexpr const char* PasswordChanged = "Your password has been changed.";
// Ours: a new password and its confirmation differ.
inline constexpr const char* PasswordsDoNotMatch = "The passwords do not match.";

// Our own words for what earlier versions did not guard against.
inline constexpr const char* ReadOnlySafe =
    "This safe could not be read completely, so it is open read-only: its files can be "
    "listed and extracted, but nothing can be added, deleted, renamed or saved, and the "
    "safe file stays as it was.";
inline constexpr const char* SafeInUse =
    "This safe is open in another program. Only one program at a time can have a safe "
    "open: close it there first.";
inline constexpr const char* SafeNotRead = "The safe could not be read: ";
inline constexpr const char* NotARegularFile = "not a regular file";
inline constexpr const char* WorkingCopyNotWritten =
    "The safe could not be opened: its working copy could not be written: ";
inline constexpr const char* WorkingCopyNotRead =
    "The safe could not be opened: its working copy could not be read: ";

// After a save that could not keep who may use the safe file.
inline constexpr const char* AccessChanged =
    "The safe was saved, but the new safe file could not keep everything of the old one's "
    "access:";
inline constexpr const char* OwnerNotKept =
    "- it could not keep its owner (%s): it now belongs to %s";
inline constexpr const char* GroupNotKept =
    "- it could not keep its group (%s): its group is now %s, which is given no access";
inline constexpr const char* AccessListNotKept =
    "- its access control list (ACL) could not be copied (%s): only the owner, the group's "
    "own entry and others keep access";
inline constexpr const char* AttributesNotKept =
    "- some of its other extended attributes could not be copied (%s)";

// Sealed safes.
inline constexpr const char* SealSafeCaption = "Seal Safe";
inline constexpr const char* SealSafeQuestion =
    "Sealing gives this safe a slow, salted key, so that its password takes far longer to "
    "guess, and makes a safe file that was changed or cut off refuse to open instead of opening "
    "damaged. Other programs that read .cx safes will not open a sealed safe.\n\n"
    "Seal this safe now?";
inline constexpr const char* Sealing = "Sealing Safe Please Wait...";
inline constexpr const char* SafeSealed = "The safe is sealed.";
inline constexpr const char* SafeUpgraded =
    "The safe was written in the second sealed version, which opens faster and saves only what "
    "changed. Versions of this program before it cannot open it.";
inline constexpr const char* DerivingKey = "Deriving the Key Please Wait...";
inline constexpr const char* KeyNotDerived = "The key of the sealed safe could not be derived: ";
inline constexpr const char* SealedSafeDamaged =
    "The safe could not be opened: the safe file is damaged or was changed since it was "
    "written, so it does not match its seal.";

} // namespace quorvane::lifecycle_text
