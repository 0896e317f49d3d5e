#pragma once

// What the main window shows: its title, menus, toolbar, row menu and list
// columns, with their texts byte for byte and the command id of every item.
// MainWindow builds itself from these tables, and the tests read them back.

#include "app/CommandIds.h"

#include <array>
#include <span>

namespace quorvane::layout {

inline constexpr const char* WindowTitle = "Quorvane";
// With a safe open the title bar names it: "notes.cx — Quorvane", and
// "notes.cx (sealed) — Quorvane" for a sealed one.
inline constexpr const char* TitleSeparator = " \u2014 ";
inline constexpr const char* SealedInTitle = " (sealed)";
// A safe closed by itself or by File > Lock: "notes.cx (locked) — Quorvane".
inline constexpr const char* LockedInTitle = " (locked)";
inline constexpr int FirstWidth = 517;
inline constexpr int FirstHeight = 500;

struct CommandItem {
    int id;
    const char* text;
    // The key that runs the command from anywhere in the window, shown beside
    // it in the menu (QKeySequence's portable text); none for nullptr.
    const char* keys = nullptr;
};

struct MenuDefinition {
    const char* title;
    std::span<const CommandItem> items;
};

inline constexpr std::array<CommandItem, 6> FileMenu = {{
    {command::NewSafe, "&New Safe", "Ctrl+N"},
    {command::OpenSafe, "&Open Safe", "Ctrl+O"},
    {command::Save, "&Save", "Ctrl+S"},
    {command::CloseSafe, "&Close Safe", "Ctrl+W"},
    {command::Lock, "&Lock"},
    {command::SaveAndExit, "Save && E&xit", "Ctrl+Q"},
}};
inline constexpr std::array<CommandItem, 5> EditMenu = {{
    {command::AddFile, "&Add File"},
    {command::NewFolder, "New &Folder", "Ctrl+Shift+N"},
    {command::DeleteFile, "&Delete File", "Del"},
    {command::RenameFile, "&Rename File", "F2"},
    {command::Preferences, "&Preferences..."},
}};
inline constexpr std::array<CommandItem, 4> SafeOptionsMenu = {{
    {command::ChangePassword, "&Change Password"},
    {command::SealSafe, "&Seal Safe..."},
    {command::OpenAsFolder, "Open as &Folder"},
    {command::CloseFolder, "C&lose Folder"},
}};
inline constexpr std::array<CommandItem, 1> HelpMenu = {{
    {command::About, "&About ..."},
}};

inline constexpr std::array<MenuDefinition, 4> MainMenu = {{
    {"&File", FileMenu},
    {"&Edit", EditMenu},
    {"&Safe Options", SafeOptionsMenu},
    {"&Help", HelpMenu},
}};

// The menu that a right-click or the menu key opens on a focused row.
inline constexpr std::array<CommandItem, 3> RowMenu = {{
    {command::Extract, "Extract"},
    {command::RenameFile, "Rename"},
    {command::DeleteRow, "Delete"},
}};

struct ToolbarButton {
    int id;
    const char* tooltip;
    int iconId;
};

inline constexpr int ToolbarIconSize = 48;

inline constexpr std::array<ToolbarButton, 6> Toolbar = {{
    {command::NewSafe, "New Safe", 139},
    {command::OpenSafe, "Open Safe", 136},
    {command::Save, "Save/Close Safe", 140},
    {command::AddFile, "Add File", 137},
    {command::DeleteFile, "Delete", 138},
    {command::Extract, "Extract", 141},
}};

// The buttons that only make sense with a safe open, in the order in which
// SetSafeButtonsEnabled switches them.
inline constexpr std::array<int, 4> SafeButtons = {command::Save, command::AddFile,
                                                   command::DeleteFile, command::Extract};

struct ListColumn {
    const char* header;
    int width;
};

// The line below the list while the safe is open as a folder.
inline constexpr const char* FolderStatus = "Open as a folder: ";
inline constexpr const char* ShowInFileManager = "Show in File Manager";
inline constexpr const char* CloseFolder = "Close Folder";

// The field above the list that shows only the rows whose name holds its text.
inline constexpr const char* FilterName = "Filter by name";
inline constexpr const char* FilterPlaceholder = "Filter by name (Ctrl+F)";

// Modified shows only where the safe keeps times (a sealed safe).
inline constexpr std::array<ListColumn, 4> EntryListColumns = {{
    {"File Number", 128},
    {"Filename", 293},
    {"Size", 80},
    {"Modified", 130},
}};

} // namespace quorvane::layout
