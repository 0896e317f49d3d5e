#include "storage/workingcopy/PlainFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane {

std::unique_ptr<PlainFile> PlainFile::open(const std::filesystem::path& path, int flags, int& error,
                                           unsigned mode) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    error = 0;
    return std::make_unique<PlainFile>(fd);
}

long long readFully(int fd, void* into, std::size_t count, std::uint64_t offset) {
    auto* out = static_cast<char*>(into);
    std::size_t got = 0;
    while (got < count) {
        const ssize_t n = ::pread(fd, out + got, count - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return static_cast<long long>(got);
}

int writeFully(int fd, const void* from, std::size_t count, std::uint64_t offset) {
    const auto* in = static_cast<const char*>(from);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pwrite(fd, in + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : ENOSPC;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

PlainFile::PlainFile(int fd) : fd_(fd) {}

PlainFile::~PlainFile() = default;

bool PlainFile::failWith(int error) {
    lastError_ = error;
    return false;
}

bool PlainFile::readAt(std::uint64_t offset, void* into, std::size_t count) {
    lastError_ = 0;
    const long long got = readFully(fd_.get(), into, count, offset);
    if (got < 0)
        return failWith(errno);
    return static_cast<std::size_t>(got) == count; // short: past the end
}

bool PlainFile::writeAt(std::uint64_t offset, const void* from, std::size_t count) {
    lastError_ = 0;
    const int error = writeFully(fd_.get(), from, count, offset);
    return error == 0 || failWith(error);
}

std::uint64_t PlainFile::length() const {
    struct stat status {};
    return ::fstat(fd_.get(), &status) == 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
}

bool PlainFile::resize(std::uint64_t length) {
    lastError_ = 0;
    return ::ftruncate(fd_.get(), static_cast<off_t>(length)) == 0 || failWith(errno);
}

bool PlainFile::sync() {
    lastError_ = 0;
    return ::fsync(fd_.get()) == 0 || failWith(errno);
}

} // namespace quorvane
