#include "storage/workingcopy/EncryptedSectors.h"

#include "storage/workingcopy/PlainFile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace quorvane {

namespace {

off_t offsetOf(std::uint64_t sector) {
    return static_cast<off_t>(sector * SectorSize);
}

} // namespace

EncryptedSectors::EncryptedSectors(std::filesystem::path path) : path_(std::move(path)) {}

EncryptedSectors::~EncryptedSectors() {
    remove();
}

bool EncryptedSectors::failWith(int error) {
    lastError_ = error != 0 ? error : EIO;
    return false;
}

bool EncryptedSectors::ensureFile() {
    if (fd_.valid())
        return true;
    if (!key_.generate())
        return failWith(EAGAIN);
    cipher_.setKey(key_.data(), SectorSize);
    // A file or link already under the name is refused: it is not ours.
    fd_.reset(::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd_) {
        key_.wipe();
        return failWith(errno);
    }
    return true;
}

bool EncryptedSectors::read(std::uint64_t first, std::size_t count, unsigned char* into) {
    if (!fd_)
        return failWith(EBADF);
    const std::size_t bytes = count * SectorSize;
    const long long got = readFully(fd_.get(), into, bytes, first * SectorSize);
    if (got < 0)
        return failWith(errno);
    // A hole at the end of the file reads as zero ciphertext, as a hole inside does.
    std::fill(into + got, into + bytes, 0);
    cipher_.decrypt(first, count, into, into);
    return true;
}

bool EncryptedSectors::write(std::uint64_t first, std::size_t count, const unsigned char* from) {
    if (!ensureFile())
        return false;
    const std::size_t bytes = count * SectorSize;
    scratch_.resize(std::max(scratch_.size(), bytes));
    cipher_.encrypt(first, count, from, scratch_.data());
    if (const int error = writeFully(fd_.get(), scratch_.data(), bytes, first * SectorSize);
        error != 0)
        return failWith(error);
    return true;
}

bool EncryptedSectors::keepFirst(std::uint64_t count) {
    if (!fd_)
        return true;
    if (::ftruncate(fd_.get(), offsetOf(count)) != 0)
        return failWith(errno);
    return true;
}

bool EncryptedSectors::sync() {
    if (!fd_)
        return true;
    if (::fdatasync(fd_.get()) != 0)
        return failWith(errno);
    return true;
}

void EncryptedSectors::remove() {
    if (fd_.valid()) {
        fd_.reset();
        ::unlink(path_.c_str());
    }
    key_.wipe();
    std::fill(scratch_.begin(), scratch_.end(), 0);
}

} // namespace quorvane
