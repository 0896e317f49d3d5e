#include "mount/DeadMounts.h"

#include "storage/files/WorkingDirectory.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace quorvane {

namespace {

// mountinfo writes a space, tab, newline and backslash in a path as \ooo.
std::string unescaped(const std::string& field) {
    std::string plain;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' &&
            field[i + 1] <= '3') {
            plain += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                       (field[i + 3] - '0'));
            i += 3;
        } else {
            plain += field[i];
        }
    }
    return plain;
}

std::optional<uid_t> ownerIn(const std::string& superOptions) {
    std::istringstream options(superOptions);
    for (std::string option; std::getline(options, option, ',');) {
        if (option.rfind("user_id=", 0) == 0)
            return static_cast<uid_t>(std::strtoul(option.c_str() + 8, nullptr, 10));
    }
    return std::nullopt;
}

// Whether the program named in source still runs: a live process of that
// number (not a zombie that nobody has reaped) whose name is one of ours (the
// number may have been given to another program since).
bool servedByLiveProgram(const std::string& source) {
    constexpr std::string_view prefix = "quorvane:";
    if (source.rfind(prefix, 0) != 0)
        return false;
    const long pid = std::strtol(source.c_str() + prefix.size(), nullptr, 10);
    if (pid <= 0 || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH))
        return false;
    // "PID (NAME) STATE ...": the name may hold spaces and parentheses.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const std::size_t open = line.find('(');
    const std::size_t close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close + 2 >= line.size())
        return false;
    const char state = line[close + 2];
    return state != 'Z' && state != 'X' && line.compare(open + 1, 8, "quorvane") == 0;
}

bool lazyUnmount(const std::filesystem::path& mountPoint) {
    const char* argv[] = {"fusermount3", "-u", "-z", "-q", "--", mountPoint.c_str(), nullptr};
    pid_t child = -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const int spawned = posix_spawnp(&child, "fusermount3", &actions, nullptr,
                                     const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return false;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

std::vector<FolderMount> folderMounts(std::istream& mountinfo) {
    std::vector<FolderMount> mounts;
    for (std::string line; std::getline(mountinfo, line);) {
        // id parent dev root mountpoint options [optional...] - type source superoptions
        std::istringstream fields(line);
        std::vector<std::string> words;
        for (std::string word; fields >> word;)
            words.push_back(word);
        std::size_t dash = 6;
        while (dash < words.size() && words[dash] != "-")
            ++dash;
        if (words.size() < 5 || dash + 1 >= words.size() || words[dash + 1] != FolderMountType)
            continue;
        FolderMount mount;
        mount.mountPoint = unescaped(words[4]);
        mount.source = dash + 2 < words.size() ? unescaped(words[dash + 2]) : "";
        mount.owner = dash + 3 < words.size() ? ownerIn(words[dash + 3]) : std::nullopt;
        mounts.push_back(std::move(mount));
    }
    return mounts;
}

std::filesystem::path windowMountParent() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime == '/')
        return std::filesystem::path(runtime) / "quorvane";
    try {
        return workingFolderParent() / ("quorvane-folders-" + std::to_string(::getuid()));
    } catch (const UnsafeTemporaryDirectory&) {
        return {};
    }
}

int removeDeadMounts() {
    std::ifstream mountinfo("/proc/self/mountinfo");
    const std::filesystem::path parent = windowMountParent();
    int removed = 0;
    for (const FolderMount& mount : folderMounts(mountinfo)) {
        if (mount.owner != ::getuid() || servedByLiveProgram(mount.source))
            continue;
        if (!lazyUnmount(mount.mountPoint))
            continue;
        ++removed;
        // The window's mount points are ours to remove (only when empty, as
        // a bare mount point is); the tool's belong to the user.
        if (!parent.empty() && mount.mountPoint.parent_path() == parent)
            ::rmdir(mount.mountPoint.c_str());
    }
    return removed;
}

} // namespace quorvane
