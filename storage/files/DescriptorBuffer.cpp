#include "storage/files/DescriptorBuffer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <ios>
#include <unistd.h>

namespace quorvane {

namespace {

constexpr std::size_t BufferSize = std::size_t{64} * 1024;
// Every this many bytes the disk is told to start writing them.
constexpr std::uint64_t WritebackStep = 8u << 20;

} // namespace

DescriptorOutputBuffer::DescriptorOutputBuffer(int fd) : fd_(fd), buffer_(BufferSize) {
    setp(buffer_.data(), buffer_.data() + buffer_.size());
    const off_t at = ::lseek(fd_, 0, SEEK_CUR);
    writtenTo_ = writebackFrom_ = at > 0 ? static_cast<std::uint64_t>(at) : 0;
}

// A safe is written in one go and then made durable with fsync: left alone,
// the kernel would hold all of it dirty and start the disk only then. Starting
// the disk on each step as it is written lets it work while the cipher makes
// the next, and leaves the fsync little to wait for. (Waiting for each step
// as well, to keep the dirty pages few, made a save of 1 GiB a fifth slower.)
// Errors are left to the fsync that follows; a file system may not support this.
void DescriptorOutputBuffer::startWriteback() {
    if (writtenTo_ - writebackFrom_ < WritebackStep)
        return;
    ::sync_file_range(fd_, static_cast<off_t>(writebackFrom_),
                      static_cast<off_t>(writtenTo_ - writebackFrom_), SYNC_FILE_RANGE_WRITE);
    writebackFrom_ = writtenTo_;
}

DescriptorOutputBuffer::int_type DescriptorOutputBuffer::overflow(int_type ch) {
    if (!drain())
        return traits_type::eof();
    if (!traits_type::eq_int_type(ch, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(ch);
        pbump(1);
    }
    return traits_type::not_eof(ch);
}

// Large pieces skip the buffer: safes and working copies move in 1 MiB blocks.
std::streamsize DescriptorOutputBuffer::xsputn(const char* data, std::streamsize count) {
    if (count < static_cast<std::streamsize>(buffer_.size()))
        return std::streambuf::xsputn(data, count);
    if (!drain() || !writeAll(data, static_cast<std::size_t>(count)))
        return 0;
    return count;
}

int DescriptorOutputBuffer::sync() {
    return drain() ? 0 : -1;
}

bool DescriptorOutputBuffer::drain() {
    const auto pending = static_cast<std::size_t>(pptr() - pbase());
    const bool written = writeAll(pbase(), pending);
    setp(buffer_.data(), buffer_.data() + buffer_.size());
    return written;
}

bool DescriptorOutputBuffer::writeAll(const char* data, std::size_t count) {
    while (count > 0) {
        const ssize_t written = ::write(fd_, data, count);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (lastError_ == 0)
                lastError_ = written < 0 ? errno : ENOSPC;
            return false;
        }
        data += written;
        count -= static_cast<std::size_t>(written);
        writtenTo_ += static_cast<std::uint64_t>(written);
    }
    startWriteback();
    return true;
}

DescriptorInputBuffer::DescriptorInputBuffer(int fd) : fd_(fd), buffer_(BufferSize) {
    setg(buffer_.data(), buffer_.data(), buffer_.data());
}

std::streamsize DescriptorInputBuffer::readSome(char* data, std::size_t count) {
    for (;;) {
        const ssize_t got = ::read(fd_, data, count);
        if (got >= 0)
            return got;
        if (errno != EINTR) {
            lastError_ = errno;
            return -1;
        }
    }
}

DescriptorInputBuffer::int_type DescriptorInputBuffer::underflow() {
    if (gptr() < egptr())
        return traits_type::to_int_type(*gptr());
    const std::streamsize got = readSome(buffer_.data(), buffer_.size());
    if (got < 0)
        throw std::ios_base::failure(std::strerror(lastError_)); // the stream sets its bad bit
    setg(buffer_.data(), buffer_.data(), buffer_.data() + got);
    return got == 0 ? traits_type::eof() : traits_type::to_int_type(*gptr());
}

std::streamsize DescriptorInputBuffer::xsgetn(char* data, std::streamsize count) {
    std::streamsize done = 0;
    const auto buffered = std::min<std::streamsize>(egptr() - gptr(), count);
    std::memcpy(data, gptr(), static_cast<std::size_t>(buffered));
    gbump(static_cast<int>(buffered));
    done += buffered;
    while (done < count) {
        const std::streamsize got = readSome(data + done, static_cast<std::size_t>(count - done));
        if (got < 0)
            throw std::ios_base::failure(std::strerror(lastError_));
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

DescriptorInputBuffer::pos_type DescriptorInputBuffer::seekoff(off_type offset,
                                                               std::ios_base::seekdir direction,
                                                               std::ios_base::openmode) {
    // The descriptor stands at the end of what was buffered.
    if (direction == std::ios_base::cur)
        offset -= egptr() - gptr();
    const int whence = direction == std::ios_base::beg   ? SEEK_SET
                       : direction == std::ios_base::cur ? SEEK_CUR
                                                         : SEEK_END;
    const off_t at = ::lseek(fd_, static_cast<off_t>(offset), whence);
    if (at < 0)
        return pos_type(off_type(-1));
    setg(buffer_.data(), buffer_.data(), buffer_.data());
    return pos_type(static_cast<off_type>(at));
}

DescriptorInputBuffer::pos_type DescriptorInputBuffer::seekpos(pos_type position,
                                                               std::ios_base::openmode which) {
    return seekoff(off_type(position), std::ios_base::beg, which);
}

} // namespace quorvane
