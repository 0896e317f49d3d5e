#include "mount/DeadMounts.h"

#include "storage/files/UniqueFd.h"
#include "storage/files/WorkingDirectory.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Whether a program still serves the mount that source names. A server
// holds the lock of its private working folder for as long as it lives, and
// source names that folder: a lock that cannot be taken is a live server,
// whatever its name, whichever PID namespace it runs in. A folder that is
// gone, or a lock that is free, is a server that is gone.
bool servedByLiveProgram(const std::string& source) {
    constexpr std::string_view prefix = "quorvane:";
    if (source.rfind(prefix, 0) != 0)
        return false;
    const std::string rest = source.substr(prefix.size());
    if (!rest.empty() && rest[0] != '/') {
        // "quorvane:PID" from an earlier version, which had no lock to ask:
        // left alone unless that process is surely gone.
        const long pid = std::strtol(rest.c_str(), nullptr, 10);
        return pid > 0 && !(::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH);
    }
    const std::string lockPath = (std::filesystem::path(rest) / WorkingFolderLock).string();
    // Closed on the way out, which also lets go of the lock, if it was taken.
    const UniqueFd fd(::open(lockPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    return fd && ::flock(fd.get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
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

std::string mountSourceName(const std::filesystem::path& stateFolder) {
    std::error_code failed;
    const std::filesystem::path real = std::filesystem::canonical(stateFolder, failed);
    return std::string("quorvane:") + (failed ? stateFolder : real).string();
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

std::optional<std::filesystem::path> madeWindowMountParent(int& error) {
    const std::filesystem::path parent = windowMountParent();
    if (parent.empty()) {
        error = EACCES;
        return std::nullopt;
    }
    if (::mkdir(parent.c_str(), 0700) != 0 && errno != EEXIST) {
        error = errno;
        return std::nullopt;
    }
    // Whoever made it, it must be a folder of ours that nobody else can
    // enter: another user's folder (or a link planted there) would let that
    // user choose where the safe is mounted and see its name.
    const UniqueFd fd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status {};
    if (!fd || ::fstat(fd.get(), &status) != 0 || status.st_uid != ::geteuid()) {
        error = !fd && errno != ELOOP && errno != ENOTDIR ? errno : EPERM;
        return std::nullopt;
    }
    const bool isPrivate = (status.st_mode & 077) == 0 || ::fchmod(fd.get(), 0700) == 0;
    if (!isPrivate) {
        error = EPERM;
        return std::nullopt;
    }
    return parent;
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
