#pragma once

// Every text the dialogs show, kept byte for byte (the warning lines keep
// their spelling: people know the dialog by them).

namespace quorvane::dialogs::texts {

inline constexpr const char* PasswordCaption = "Enter Password";
// Ours: the title of the second dialog that a new password is typed into.
inline constexpr const char* ConfirmPasswordCaption = "Confirm Password";
inline constexpr const char* PasswordPrompt = "Enter your Password:";
inline constexpr const char* OnScreenKeyboard = "Use on-screen keyboard";
inline constexpr const char* WarningLine1 =
    "When entering you password be aware of software designed to monitor or track your ";
inline constexpr const char* WarningLine2 =
    "activities, be especially carefull when using puplic computers.";
inline constexpr const char* WarningLine3 =
    "The use of the on-screen keybord can reduce the risk from keyloggers";

inline constexpr const char* RenameCaption = "Dialog";
inline constexpr const char* RenamePrompt = "Enter New Filename:";

inline constexpr const char* AboutCaption = "About Quorvane";
inline constexpr const char* ProgramName = "Quorvane";
inline constexpr const char* VersionPrefix = "Version ";

inline constexpr const char* BusyCaption = "Please Wait";

inline constexpr const char* Ok = "OK";
inline constexpr const char* Cancel = "Cancel";

inline constexpr const char* SafeFilter = "Cofferix files (*.cx)";
inline constexpr const char* AllFilesFilter = "All Files (*.*)";
inline constexpr const char* SafeSuffix = "cx";

} // namespace quorvane::dialogs::texts
