#include "storage/files/FdOutputBuffer.h"

#include <cerrno>
#include <unistd.h>

namespace quorvane {

bool FdOutputBuffer::writeAll(const char* data, std::size_t count) {
    if (error_ != 0)
        return false;
    while (count > 0) {
        ssize_t written = ::write(fd_, data, count);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            error_ = errno;
            return false;
        }
        if (written == 0) {
            error_ = EIO;
            return false;
        }
        data += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

FdOutputBuffer::int_type FdOutputBuffer::overflow(int_type ch) {
    if (traits_type::eq_int_type(ch, traits_type::eof()))
        return traits_type::not_eof(ch);
    const char byte = traits_type::to_char_type(ch);
    return writeAll(&byte, 1) ? ch : traits_type::eof();
}

std::streamsize FdOutputBuffer::xsputn(const char_type* data, std::streamsize count) {
    if (count <= 0)
        return 0;
    return writeAll(data, static_cast<std::size_t>(count)) ? count : 0;
}

} // namespace quorvane
