#pragma once

// What tells one file from another, and one state of a file from a later one,
// without reading it: used to hold on to the very safe that was opened while
// other programs may rename, copy or rewrite files under the same name.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace quorvane {

struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    std::int64_t modifiedNanoseconds = 0;
    // The change time: a rewrite in place that puts size and modification time
    // back (touch -d, a copy that keeps times) still moves it, and no program
    // can set it back.
    std::int64_t changedSeconds = 0;
    std::int64_t changedNanoseconds = 0;
    // What else moves the change time (mode, owner, links, its place,
    // extended attributes): when one of these changed too, the change time
    // tells of them, not of a write (a chmod, setfattr, ln or mv changes no
    // byte).
    std::string metadata;

    // The same file (it may have been written since).
    bool sameFile(const FileIdentity& other) const {
        return device == other.device && inode == other.inode;
    }
    // The same file, and nothing written into it since.
    bool operator==(const FileIdentity& other) const {
        return sameFile(other) && size == other.size && modifiedSeconds == other.modifiedSeconds &&
               modifiedNanoseconds == other.modifiedNanoseconds &&
               ((changedSeconds == other.changedSeconds &&
                 changedNanoseconds == other.changedNanoseconds) ||
                metadata != other.metadata);
    }
};

std::optional<FileIdentity> identityOf(int fd);
// FileIdentity::metadata of the file open on fd.
std::string metadataOf(int fd);
// Follows symbolic links, as opening the path would.
std::optional<FileIdentity> identityAt(const std::filesystem::path& path);

// A name under which the file open on fd can be opened again, wherever the
// file has been moved or whatever now stands at its old name.
std::filesystem::path descriptorPath(int fd);

} // namespace quorvane
