#include "storage/workingcopy/FileStreams.h"

#include "storage/Progress.h"

#include <algorithm>
#include <cstring>
#include <ios>
#include <system_error>

namespace quorvane {

namespace {

constexpr std::size_t BufferSize = StreamBlockSize / 4;

} // namespace

FileReadBuffer::FileReadBuffer(RandomAccessFile& file) : file_(file), buffer_(BufferSize) {
    setg(buffer_.data(), buffer_.data(), buffer_.data());
}

FileReadBuffer::int_type FileReadBuffer::underflow() {
    if (gptr() < egptr())
        return traits_type::to_int_type(*gptr());
    const std::uint64_t at = bufferStart_ + static_cast<std::uint64_t>(egptr() - eback());
    const std::uint64_t length = file_.length();
    const auto count = static_cast<std::size_t>(
        std::min<std::uint64_t>(buffer_.size(), length > at ? length - at : 0));
    bufferStart_ = at;
    setg(buffer_.data(), buffer_.data(), buffer_.data());
    if (count == 0)
        return traits_type::eof();
    if (!file_.readAt(at, buffer_.data(), count)) {
        const int error = file_.lastError();
        throw std::ios_base::failure(
            error > 0 ? std::strerror(error) : "the file could not be read",
            std::error_code(error > 0 ? error : EIO, std::generic_category()));
    }
    setg(buffer_.data(), buffer_.data(), buffer_.data() + count);
    return traits_type::to_int_type(*gptr());
}

FileReadBuffer::pos_type FileReadBuffer::seekoff(off_type offset, std::ios_base::seekdir direction,
                                                 std::ios_base::openmode which) {
    const std::uint64_t now = bufferStart_ + static_cast<std::uint64_t>(gptr() - eback());
    std::int64_t base = 0;
    if (direction == std::ios_base::cur)
        base = static_cast<std::int64_t>(now);
    else if (direction == std::ios_base::end)
        base = static_cast<std::int64_t>(file_.length());
    return seekpos(pos_type(off_type(base + offset)), which);
}

FileReadBuffer::pos_type FileReadBuffer::seekpos(pos_type position, std::ios_base::openmode) {
    const off_type at = position;
    if (at < 0)
        return pos_type(off_type(-1));
    bufferStart_ = static_cast<std::uint64_t>(at);
    setg(buffer_.data(), buffer_.data(), buffer_.data());
    return position;
}

FileWriteBuffer::FileWriteBuffer(RandomAccessFile& file) : file_(file), buffer_(BufferSize) {
    setp(buffer_.data(), buffer_.data() + buffer_.size());
}

FileWriteBuffer::~FileWriteBuffer() {
    drain();
}

bool FileWriteBuffer::drain() {
    const auto count = static_cast<std::size_t>(pptr() - pbase());
    if (count == 0)
        return true;
    const bool written = file_.writeAt(position_, pbase(), count);
    position_ += count;
    setp(buffer_.data(), buffer_.data() + buffer_.size());
    return written;
}

FileWriteBuffer::int_type FileWriteBuffer::overflow(int_type ch) {
    if (!drain())
        return traits_type::eof();
    if (!traits_type::eq_int_type(ch, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(ch);
        pbump(1);
    }
    return traits_type::not_eof(ch);
}

int FileWriteBuffer::sync() {
    return drain() ? 0 : -1;
}

} // namespace quorvane
