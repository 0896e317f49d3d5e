#include "storage/workingcopy/WorkingCopyFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <ios>
#include <system_error>
#include <unistd.h>

namespace quorvane {

namespace {

constexpr std::size_t SectorSize = 4096;
// 256 KiB of decrypted sectors: as large as the blocks the copies move in (see
// BackgroundStreams.h), small enough to keep memory flat.
constexpr std::size_t WindowSectors = 64;
constexpr std::size_t WindowBytes = WindowSectors * SectorSize;
constexpr std::uint64_t HeaderSector = 0; // holds the container's length
constexpr std::uint64_t FirstDataSector = 1;

std::uint64_t sectorsFor(std::uint64_t bytes) {
    return (bytes + SectorSize - 1) / SectorSize;
}

off_t fileOffset(std::uint64_t fileSector) {
    return static_cast<off_t>(fileSector * SectorSize);
}

[[noreturn]] void throwReadFailure(int error) {
    throw std::ios_base::failure(std::strerror(error),
                                 std::error_code(error, std::generic_category()));
}

} // namespace

WorkingCopyBuffer::WorkingCopyBuffer() : window_(WindowBytes), scratch_(WindowBytes) {}

WorkingCopyBuffer::~WorkingCopyBuffer() {
    close();
}

bool WorkingCopyBuffer::failWith(int error) {
    lastError_ = error != 0 ? error : EIO;
    return false;
}

bool WorkingCopyBuffer::create(const std::filesystem::path& path) {
    close();
    lastError_ = 0;
    if (!key_.generate()) {
        errno = EAGAIN;
        return false;
    }
    cipher_.setKey(key_.data(), SectorSize);
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0)
        return false;
    length_ = 0;
    position_ = 0;
    windowSectors_ = 0;
    dirtyFrom_ = dirtyTo_ = 0;
    lengthChanged_ = true;
    if (storeLength())
        return true;
    const int error = lastError_;
    close();
    errno = error;
    return false;
}

bool WorkingCopyBuffer::close() {
    if (fd_ < 0)
        return true;
    const bool stored = sync() == 0;
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    key_.wipe();
    windowSectors_ = 0;
    std::fill(window_.begin(), window_.end(), 0);
    return stored && closed;
}

bool WorkingCopyBuffer::readSectors(std::uint64_t first, std::size_t count, unsigned char* into) {
    // Sectors wholly past the container's end hold nothing yet: zeros.
    const std::uint64_t stored = sectorsFor(length_);
    const std::size_t toRead =
        first >= stored ? 0
                        : static_cast<std::size_t>(std::min<std::uint64_t>(count, stored - first));
    std::size_t got = 0;
    while (got < toRead * SectorSize) {
        const ssize_t n = ::pread(fd_, scratch_.data() + got, toRead * SectorSize - got,
                                  fileOffset(FirstDataSector + first) + static_cast<off_t>(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return failWith(errno);
        if (n == 0)
            break; // the file ends before the container says: the rest reads as zeros
        got += static_cast<std::size_t>(n);
    }
    const std::size_t whole = got / SectorSize;
    cipher_.decrypt(FirstDataSector + first, whole, scratch_.data(), into);
    std::fill(into + whole * SectorSize, into + count * SectorSize, 0);
    return true;
}

bool WorkingCopyBuffer::writeSectors(std::uint64_t first, std::size_t count,
                                     const unsigned char* from) {
    cipher_.encrypt(FirstDataSector + first, count, from, scratch_.data());
    std::size_t done = 0;
    while (done < count * SectorSize) {
        const ssize_t n = ::pwrite(fd_, scratch_.data() + done, count * SectorSize - done,
                                   fileOffset(FirstDataSector + first) + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return failWith(n < 0 ? errno : ENOSPC);
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Sectors that the container reaches without writing them (a write past the
// end, a resize that grows) must read as zeros: a hole in the file would read
// as zero ciphertext, which decrypts to noise. They are written encrypted.
bool WorkingCopyBuffer::fillGap(std::uint64_t newLength) {
    const std::uint64_t from = sectorsFor(length_);
    const std::uint64_t to = sectorsFor(newLength);
    if (to <= from)
        return true;
    if (!storeWindow())
        return false;
    std::vector<unsigned char> zeros(WindowBytes, 0);
    for (std::uint64_t first = from; first < to;) {
        const auto count =
            static_cast<std::size_t>(std::min<std::uint64_t>(to - first, WindowSectors));
        if (!writeSectors(first, count, zeros.data()))
            return false;
        first += count;
    }
    return true;
}

bool WorkingCopyBuffer::storeWindow() {
    if (dirtyTo_ <= dirtyFrom_)
        return true;
    // Sectors cut off by a resize are not written back.
    const std::uint64_t stored = sectorsFor(length_);
    const std::uint64_t end = std::min<std::uint64_t>(windowFirst_ + dirtyTo_, stored);
    const std::uint64_t first = windowFirst_ + dirtyFrom_;
    if (end > first && !writeSectors(first, static_cast<std::size_t>(end - first),
                                     window_.data() + dirtyFrom_ * SectorSize))
        return false;
    dirtyFrom_ = dirtyTo_ = 0;
    return true;
}

bool WorkingCopyBuffer::storeLength() {
    if (!lengthChanged_)
        return true;
    unsigned char header[SectorSize] = {};
    for (int i = 0; i < 8; ++i)
        header[i] = static_cast<unsigned char>((length_ >> (8 * i)) & 0xFFu);
    cipher_.encrypt(HeaderSector, 1, header, header);
    const ssize_t n = ::pwrite(fd_, header, SectorSize, fileOffset(HeaderSector));
    if (n != static_cast<ssize_t>(SectorSize))
        return failWith(n < 0 ? errno : ENOSPC);
    lengthChanged_ = false;
    return true;
}

bool WorkingCopyBuffer::loadWindow(std::uint64_t sector) {
    if (windowSectors_ != 0 && sector >= windowFirst_ && sector < windowFirst_ + windowSectors_)
        return true;
    if (!storeWindow())
        return false;
    const std::uint64_t first = sector - sector % WindowSectors;
    windowSectors_ = 0;
    if (!readSectors(first, WindowSectors, window_.data()))
        return false;
    windowFirst_ = first;
    windowSectors_ = WindowSectors;
    return true;
}

std::streamsize WorkingCopyBuffer::xsgetn(char* data, std::streamsize count) {
    if (fd_ < 0 || position_ >= length_ || count <= 0)
        return 0;
    const std::uint64_t wanted =
        std::min<std::uint64_t>(static_cast<std::uint64_t>(count), length_ - position_);
    std::uint64_t done = 0;
    while (done < wanted) {
        if (!loadWindow(position_ / SectorSize))
            throwReadFailure(lastError_);
        const std::size_t at = static_cast<std::size_t>(position_ - windowFirst_ * SectorSize);
        const auto piece =
            static_cast<std::size_t>(std::min<std::uint64_t>(wanted - done, WindowBytes - at));
        std::memcpy(data + done, window_.data() + at, piece);
        done += piece;
        position_ += piece;
    }
    return static_cast<std::streamsize>(done);
}

std::streamsize WorkingCopyBuffer::xsputn(const char* data, std::streamsize count) {
    if (fd_ < 0 || count <= 0)
        return 0;
    if (position_ > length_ && !fillGap(position_ - position_ % SectorSize))
        return 0;
    std::streamsize done = 0;
    while (done < count) {
        if (!loadWindow(position_ / SectorSize))
            return done;
        const std::size_t at = static_cast<std::size_t>(position_ - windowFirst_ * SectorSize);
        const auto piece = static_cast<std::size_t>(
            std::min<std::uint64_t>(static_cast<std::uint64_t>(count - done), WindowBytes - at));
        std::memcpy(window_.data() + at, data + done, piece);
        const std::size_t firstSector = at / SectorSize;
        const std::size_t endSector = (at + piece + SectorSize - 1) / SectorSize;
        if (dirtyTo_ <= dirtyFrom_) {
            dirtyFrom_ = firstSector;
            dirtyTo_ = endSector;
        } else {
            dirtyFrom_ = std::min(dirtyFrom_, firstSector);
            dirtyTo_ = std::max(dirtyTo_, endSector);
        }
        done += static_cast<std::streamsize>(piece);
        position_ += piece;
        if (position_ > length_) {
            length_ = position_;
            lengthChanged_ = true;
        }
    }
    return done;
}

WorkingCopyBuffer::int_type WorkingCopyBuffer::underflow() {
    if (fd_ < 0 || position_ >= length_)
        return traits_type::eof();
    if (!loadWindow(position_ / SectorSize))
        throwReadFailure(lastError_);
    return traits_type::to_int_type(static_cast<char>(
        window_[static_cast<std::size_t>(position_ - windowFirst_ * SectorSize)]));
}

WorkingCopyBuffer::int_type WorkingCopyBuffer::uflow() {
    const int_type next = underflow();
    if (!traits_type::eq_int_type(next, traits_type::eof()))
        ++position_;
    return next;
}

WorkingCopyBuffer::int_type WorkingCopyBuffer::overflow(int_type ch) {
    if (traits_type::eq_int_type(ch, traits_type::eof()))
        return traits_type::not_eof(ch);
    const char byte = traits_type::to_char_type(ch);
    return xsputn(&byte, 1) == 1 ? ch : traits_type::eof();
}

WorkingCopyBuffer::pos_type WorkingCopyBuffer::seekoff(off_type offset,
                                                       std::ios_base::seekdir direction,
                                                       std::ios_base::openmode) {
    if (fd_ < 0)
        return pos_type(off_type(-1));
    const auto base = static_cast<off_type>(direction == std::ios_base::beg   ? 0
                                            : direction == std::ios_base::cur ? position_
                                                                              : length_);
    if (offset < -base)
        return pos_type(off_type(-1));
    position_ = static_cast<std::uint64_t>(base + offset);
    return pos_type(static_cast<off_type>(position_));
}

WorkingCopyBuffer::pos_type WorkingCopyBuffer::seekpos(pos_type position,
                                                       std::ios_base::openmode which) {
    return seekoff(off_type(position), std::ios_base::beg, which);
}

int WorkingCopyBuffer::sync() {
    if (fd_ < 0)
        return 0;
    return storeWindow() && storeLength() ? 0 : -1;
}

bool WorkingCopyBuffer::resize(std::uint64_t length) {
    if (fd_ < 0 || sync() != 0)
        return false;
    if (length < length_ && length % SectorSize != 0) {
        // The rest of the new last sector is kept zero, so that a later
        // growth reads zeros there and no cut-off byte survives.
        if (!loadWindow(length / SectorSize))
            return false;
        const std::size_t at = static_cast<std::size_t>(length - windowFirst_ * SectorSize);
        const std::size_t sectorEnd = (at / SectorSize + 1) * SectorSize;
        std::fill(window_.begin() + static_cast<std::ptrdiff_t>(at),
                  window_.begin() + static_cast<std::ptrdiff_t>(sectorEnd), 0);
        dirtyFrom_ = at / SectorSize;
        dirtyTo_ = dirtyFrom_ + 1;
        if (!storeWindow())
            return false;
    }
    if (length < length_) {
        windowSectors_ = 0; // sectors past the end may be cached
        if (::ftruncate(fd_, fileOffset(FirstDataSector + sectorsFor(length))) != 0)
            return failWith(errno);
    }
    if (length > length_ && !fillGap(length))
        return false;
    length_ = length;
    lengthChanged_ = true;
    return storeLength();
}

bool WorkingCopyBuffer::syncToDisk() {
    if (fd_ < 0 || sync() != 0)
        return false;
    return ::fdatasync(fd_) == 0 || failWith(errno);
}

void WorkingCopyBuffer::dropPending() {
    windowSectors_ = 0;
    dirtyFrom_ = dirtyTo_ = 0;
    if (fd_ < 0)
        return;
    // The length goes back to what the file holds.
    unsigned char header[SectorSize];
    if (::pread(fd_, header, SectorSize, fileOffset(HeaderSector)) !=
        static_cast<ssize_t>(SectorSize))
        return;
    cipher_.decrypt(HeaderSector, 1, header, header);
    std::uint64_t stored = 0;
    for (int i = 7; i >= 0; --i)
        stored = (stored << 8) | header[i];
    length_ = stored;
    lengthChanged_ = false;
}

bool WorkingCopyFile::create(const std::filesystem::path& path) {
    clear();
    const bool created = buffer_.create(path);
    if (!created)
        setstate(std::ios::failbit);
    return created;
}

void WorkingCopyFile::close() {
    if (!buffer_.close())
        setstate(std::ios::failbit);
}

} // namespace quorvane
