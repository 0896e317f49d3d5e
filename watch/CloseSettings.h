#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

namespace quorvane {

// When an open safe closes by itself, as Edit > Preferences keeps it and the
// tool reads it (its options override what is read).
struct CloseSettings {
    bool onScreenLock = true;
    bool onSleep = true;
    // None: never for idleness.
    std::optional<std::chrono::milliseconds> idle = std::chrono::minutes(10);
    // How long files still open in the folder are waited for at a close.
    std::chrono::milliseconds grace = std::chrono::seconds(30);
};

// The keys of the settings file (an INI file, as Qt's QSettings writes it).
namespace close_setting {
inline constexpr const char* Group = "Closing";
inline constexpr const char* OnScreenLock = "OnScreenLock";
inline constexpr const char* OnSleep = "OnSleep";
inline constexpr const char* IdleMinutes = "IdleMinutes"; // 0: never
inline constexpr const char* GraceSeconds = "GraceSeconds";
} // namespace close_setting

// $XDG_CONFIG_HOME/quorvane/quorvane.conf, or ~/.config/... without it.
std::filesystem::path settingsFilePath();

// What the file says; a missing file, key or unreadable value keeps the default.
CloseSettings readCloseSettings(const std::filesystem::path& file);
// The same from the text of such a file.
CloseSettings parseCloseSettings(const std::string& text);

// "90s", "10m", "2h" or "off" (none). False for anything else.
bool parseDuration(const std::string& text, std::optional<std::chrono::milliseconds>& duration);

} // namespace quorvane
