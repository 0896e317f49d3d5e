#pragma once

// Little-endian numbers in byte buffers, written and read with bounds: a
// reader over hostile bytes stops (and stays stopped) at the first read that
// would pass its end, so that decoding never reads beyond what it was given.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace quorvane::vault {

using Bytes = std::vector<unsigned char>;

inline void putLe(Bytes& to, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i)
        to.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

inline void putLeAt(unsigned char* to, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i)
        to[i] = static_cast<unsigned char>(value >> (8 * i));
}

inline std::uint64_t leAt(const unsigned char* from, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = width; i-- > 0;)
        value = (value << 8) | from[i];
    return value;
}

class ByteReader {
  public:
    ByteReader(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

    std::uint64_t number(std::size_t width) {
        if (!take(width))
            return 0;
        return leAt(data_ + at_ - width, width);
    }
    // The next count bytes, or an empty string when fewer are left.
    std::string text(std::size_t count) {
        if (!take(count))
            return {};
        return std::string(reinterpret_cast<const char*>(data_ + at_ - count), count);
    }
    bool ok() const { return ok_; }
    std::size_t left() const { return ok_ ? size_ - at_ : 0; }

  private:
    bool take(std::size_t count) {
        ok_ = ok_ && count <= size_ - at_;
        if (ok_)
            at_ += count;
        return ok_;
    }

    const unsigned char* data_;
    std::size_t size_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

} // namespace quorvane::vault
