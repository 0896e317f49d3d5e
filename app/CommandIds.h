#pragma once

// The one table of command ids. Every menu item, toolbar button, row-menu
// item and shortcut carries one of these numbers, and routeCommand is the only
// place that turns a number into an operation. The numbers are the ones the
// program has always used, so that bug reports and tests can name them.

namespace quorvane::command {

inline constexpr int About = 104;
inline constexpr int SaveAndExit = 105;
inline constexpr int OpenSafe = 32771;
inline constexpr int Save = 32772;
inline constexpr int RenameFile = 32773;
inline constexpr int Extract = 32774;
inline constexpr int AddFile = 32778;
inline constexpr int NewSafe = 32779;
inline constexpr int DeleteFile = 32780;
inline constexpr int DeleteRow = 32781; // the row menu's "Delete": same handler as DeleteFile
inline constexpr int ChangePassword = 32792;
inline constexpr int SealSafe = 32793;
inline constexpr int OpenAsFolder = 32794;
inline constexpr int Lock = 32795;        // File > Lock, Ctrl+L
inline constexpr int Preferences = 32796; // Edit > Preferences
inline constexpr int CloseSafe = 32797;   // File > Close Safe: writes the safe, keeps the window
// Safe Options > Close Folder, and the folder's status line.
inline constexpr int CloseFolder = 32798;
inline constexpr int NewFolder = 32799; // Edit > New Folder, in a sealed safe

} // namespace quorvane::command
