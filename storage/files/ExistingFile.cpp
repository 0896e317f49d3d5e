#include "storage/files/ExistingFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quorvane {

namespace {

constexpr std::size_t CompareBlock = 1 << 20;

// The existing file, opened without following a link, closed with this.
class OpenedExisting {
  public:
    OpenedExisting(int folder, const std::string& name)
        : fd_(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC)) {}
    ~OpenedExisting() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    OpenedExisting(const OpenedExisting&) = delete;
    OpenedExisting& operator=(const OpenedExisting&) = delete;
    int fd() const { return fd_; }

  private:
    int fd_;
};

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
    const OpenedExisting existing(folder.fd(), name);
    struct stat status {};
    if (existing.fd() < 0 || ::fstat(existing.fd(), &status) != 0 || !S_ISREG(status.st_mode) ||
        static_cast<std::uint64_t>(status.st_size) != size ||
        !sameBytes(existing.fd(), size, readEntry))
        return false;
    folder.noteWritten(status.st_dev, status.st_ino);
    return true;
}

} // namespace quorvane
