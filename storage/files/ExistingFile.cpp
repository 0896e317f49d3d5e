#include "storage/files/ExistingFile.h"

#include "storage/files/UniqueFd.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quorvane {

namespace {

constexpr std::size_t CompareBlock = 1 << 20;

// Up to count bytes at offset, through short reads; -1 on an error.
std::int64_t readAt(int fd, char* into, std::size_t count, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got =
            ::pread(fd, into + done, count - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<std::int64_t>(done);
}

bool sameBytes(int fd, std::uint64_t size, const EntryReader& readEntry) {
    std::vector<char> stored(CompareBlock);
    std::vector<char> there(CompareBlock);
    for (std::uint64_t at = 0; at < size; at += CompareBlock) {
        const auto count =
            static_cast<std::size_t>(std::min<std::uint64_t>(CompareBlock, size - at));
        const auto wanted = static_cast<std::int64_t>(count);
        if (readEntry(at, stored.data(), count) != wanted ||
            readAt(fd, there.data(), count, at) != wanted ||
            std::memcmp(stored.data(), there.data(), count) != 0)
            return false;
    }
    return true;
}

} // namespace

ExistingFile lookAtExisting(const ExtractFolder& folder, const std::string& name,
                            std::uint64_t size) {
    if (!isPlainEntryName(name) || folder.fd() < 0)
        return ExistingFile::LeftToPlacement;
    struct stat status {};
    if (::fstatat(folder.fd(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? ExistingFile::None : ExistingFile::LeftToPlacement;
    if (!S_ISREG(status.st_mode) || folder.isTheSafe(status.st_dev, status.st_ino) ||
        folder.wroteFile(status.st_dev, status.st_ino))
        return ExistingFile::LeftToPlacement;
    return static_cast<std::uint64_t>(status.st_size) == size ? ExistingFile::SameSize
                                                              : ExistingFile::Different;
}

bool holdsEntryBytes(ExtractFolder& folder, const std::string& name, std::uint64_t size,
                     const EntryReader& readEntry) {
    // Opened without following a link: a link there is never taken for the entry.
    const UniqueFd existing(::openat(folder.fd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status {};
    if (!existing || ::fstat(existing.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        static_cast<std::uint64_t>(status.st_size) != size ||
        !sameBytes(existing.get(), size, readEntry))
        return false;
    folder.noteWritten(status.st_dev, status.st_ino);
    return true;
}

} // namespace quorvane
