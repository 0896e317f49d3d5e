#include "storage/files/SourceSnapshot.h"

#include <sys/stat.h>

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

} // namespace quorvane
