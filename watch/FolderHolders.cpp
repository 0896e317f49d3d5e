#include "watch/FolderHolders.h"

#include <cstdlib>
#include <fstream>
#include <set>
#include <tuple>

namespace quorvane {

namespace {

std::string programOf(const std::filesystem::path& process) {
    std::ifstream comm(process / "comm");
    std::string name;
    std::getline(comm, name);
    return name.empty() ? "?" : name;
}

// The name below dir that link points at, or nothing when it is elsewhere.
std::string nameBelow(const std::string& link, const std::string& prefix) {
    if (link.size() <= prefix.size() || link.compare(0, prefix.size(), prefix) != 0)
        return {};
    return link.substr(prefix.size());
}

} // namespace

std::vector<HeldFile> filesHeldUnder(const std::filesystem::path& dir) {
    const std::string prefix = (dir.lexically_normal() / "").string();
    std::set<std::tuple<std::string, pid_t, std::string>> found; // one line per file and process
    std::error_code failed;
    for (const auto& process : std::filesystem::directory_iterator("/proc", failed)) {
        const std::string pidText = process.path().filename().string();
        char* end = nullptr;
        const long pid = std::strtol(pidText.c_str(), &end, 10);
        if (pid <= 0 || *end != '\0')
            continue;
        std::error_code unreadable;
        for (const auto& fd :
             std::filesystem::directory_iterator(process.path() / "fd", unreadable)) {
            std::error_code gone;
            const std::string name =
                nameBelow(std::filesystem::read_symlink(fd.path(), gone).string(), prefix);
            if (!gone && !name.empty())
                found.emplace(name, static_cast<pid_t>(pid), programOf(process.path()));
        }
    }
    std::vector<HeldFile> held;
    held.reserve(found.size());
    for (const auto& [name, pid, program] : found)
        held.push_back({name, program, pid});
    return held;
}

std::string describeHeldFiles(const std::vector<HeldFile>& held) {
    std::string text;
    for (const HeldFile& file : held) {
        if (!text.empty())
            text += ", ";
        text += file.name + " (" + file.program + ", process " + std::to_string(file.pid) + ")";
    }
    return text;
}

} // namespace quorvane
