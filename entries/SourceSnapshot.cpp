#include "entries/SourceSnapshot.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane {

SourceSnapshot snapshotOf(const struct stat& status) {
    SourceSnapshot snapshot;
    snapshot.taken = true;
    snapshot.symbolicLink = S_ISLNK(status.st_mode);
    snapshot.device = status.st_dev;
    snapshot.inode = status.st_ino;
    snapshot.size = static_cast<std::uint64_t>(status.st_size);
    snapshot.modifiedSeconds = status.st_mtim.tv_sec;
    snapshot.modifiedNanoseconds = status.st_mtim.tv_nsec;
    return snapshot;
}

SourceSnapshot takeSourceSnapshot(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0)
        return {};
    return snapshotOf(status);
}

bool stillSameFile(const SourceSnapshot& before, const SourceSnapshot& now) {
    return before.taken && now.taken && before == now;
}

std::string describeUnreadableSource(const std::string& path, std::uint64_t expectedSize) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::strerror(errno);
    struct stat status {};
    std::string reason = "It could not be read in full.";
    if (::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode))
        reason = std::strerror(EISDIR);
    else if (::fstat(fd, &status) == 0 &&
             static_cast<std::uint64_t>(status.st_size) != expectedSize)
        reason = "It is " + std::to_string(status.st_size) + " bytes long now, not the " +
                 std::to_string(expectedSize) + " bytes it had when it was measured.";
    ::close(fd);
    return reason;
}

} // namespace quorvane
