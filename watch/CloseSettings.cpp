#include "watch/CloseSettings.h"

#include <charconv>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace quorvane {

namespace {

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The keys of one [group] of an INI file, with their values as written.
std::map<std::string, std::string> groupValues(const std::string& text, const std::string& group) {
    std::map<std::string, std::string> values;
    std::istringstream lines(text);
    std::string line;
    bool inGroup = false;
    while (std::getline(lines, line)) {
        line = trimmed(line);
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[') {
            inGroup = line == "[" + group + "]";
            continue;
        }
        const auto equals = line.find('=');
        if (inGroup && equals != std::string::npos)
            values[trimmed(line.substr(0, equals))] = trimmed(line.substr(equals + 1));
    }
    return values;
}

void readBool(const std::map<std::string, std::string>& values, const char* key, bool& into) {
    const auto found = values.find(key);
    if (found != values.end() && (found->second == "true" || found->second == "false"))
        into = found->second == "true";
}

std::optional<long long> readNumber(const std::map<std::string, std::string>& values,
                                    const char* key) {
    const auto found = values.find(key);
    if (found == values.end())
        return std::nullopt;
    long long number = 0;
    const std::string& text = found->second;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end != text.data() + text.size() || number < 0 ||
        number > 1'000'000)
        return std::nullopt;
    return number;
}

} // namespace

std::filesystem::path settingsFilePath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::filesystem::path base;
    if (config != nullptr && config[0] == '/')
        base = config;
    else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0')
        base = std::filesystem::path(home) / ".config";
    else
        return {};
    return base / "quorvane" / "quorvane.conf";
}

CloseSettings parseCloseSettings(const std::string& text) {
    CloseSettings settings;
    const auto values = groupValues(text, close_setting::Group);
    readBool(values, close_setting::OnScreenLock, settings.onScreenLock);
    readBool(values, close_setting::OnSleep, settings.onSleep);
    if (const auto minutes = readNumber(values, close_setting::IdleMinutes)) {
        settings.idle =
            *minutes == 0
                ? std::nullopt
                : std::optional<std::chrono::milliseconds>(std::chrono::minutes(*minutes));
    }
    if (const auto seconds = readNumber(values, close_setting::GraceSeconds))
        settings.grace = std::chrono::seconds(*seconds);
    return settings;
}

CloseSettings readCloseSettings(const std::filesystem::path& file) {
    std::ifstream in(file);
    if (!in)
        return {};
    std::ostringstream text;
    text << in.rdbuf();
    return parseCloseSettings(text.str());
}

bool parseDuration(const std::string& text, std::optional<std::chrono::milliseconds>& duration) {
    if (text == "off") {
        duration.reset();
        return true;
    }
    if (text.size() < 2)
        return false;
    long long number = 0;
    const char* end = text.data() + text.size() - 1;
    const auto [stop, error] = std::from_chars(text.data(), end, number);
    if (error != std::errc() || stop != end || number < 0 || number > 1'000'000)
        return false;
    switch (text.back()) {
    case 's':
        duration = std::chrono::seconds(number);
        return true;
    case 'm':
        duration = std::chrono::minutes(number);
        return true;
    case 'h':
        duration = std::chrono::hours(number);
        return true;
    default:
        return false;
    }
}

} // namespace quorvane
