#pragma once

// Where a stream stands, for the routines that read a whole safe or container
// from its start wherever the caller left the stream.

#include <cstdint>
#include <istream>
#include <optional>

namespace quorvane {

// Back to the start; a stream that cannot seek is read from where it stands.
inline void rewindToStart(std::istream& in) {
    in.seekg(0);
    if (in.fail() && !in.bad())
        in.clear();
}

// Bytes from the current read position to the end, when the stream can tell.
inline std::optional<std::uint64_t> remainingBytes(std::istream& in) {
    const std::streampos start = in.tellg();
    if (start == std::streampos(-1))
        return std::nullopt;
    in.seekg(0, std::ios::end);
    const std::streampos end = in.tellg();
    in.seekg(start);
    if (!in.good() || end == std::streampos(-1) || end < start)
        return std::nullopt;
    return static_cast<std::uint64_t>(end - start);
}

} // namespace quorvane
