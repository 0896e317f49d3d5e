#pragma once

#include <cstdint>
#include <string>
#include <sys/stat.h>

namespace quorvane {

// What identifies a source file's content cheaply: taken before it is copied
// into the safe and again before it is erased, so that a file changed or
// replaced in between is never destroyed as if it had been stored. Taken of
// the name itself, not of what a link there points to: a link is never erased.
struct SourceSnapshot {
    bool taken = false;
    bool symbolicLink = false;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    std::int64_t modifiedNanoseconds = 0;

    bool operator==(const SourceSnapshot&) const = default;
};

SourceSnapshot takeSourceSnapshot(const std::string& path);
// The snapshot that a status from stat, lstat or fstat describes.
SourceSnapshot snapshotOf(const struct stat& status);

// True when both snapshots were taken and describe the same unchanged file.
bool stillSameFile(const SourceSnapshot& before, const SourceSnapshot& now);

} // namespace quorvane
