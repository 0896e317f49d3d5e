#pragma once

// Little-endian fields of the container and the reads and writes that every
// container operation shares. Internal to storage/format.

#include "storage/Progress.h"
#include "storage/format/ContainerIndex.h"
#include "storage/workingcopy/RandomAccessFile.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace quorvane::container_bytes {

inline void putU32(char* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<char>((value >> (8 * i)) & 0xFFu);
}

inline void putU64(char* at, std::uint64_t value) {
    for (int i = 0; i < 8; ++i)
        at[i] = static_cast<char>((value >> (8 * i)) & 0xFFu);
}

inline std::uint32_t getU32(const char* at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(at[i]);
    return value;
}

inline std::uint64_t getU64(const char* at) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(at[i]);
    return value;
}

// The name as the list shows it: the field's bytes up to the first zero.
inline std::string nameFromField(const char* field) {
    const auto* terminator = static_cast<const char*>(std::memchr(field, 0, EntryNameSize));
    const std::size_t length =
        terminator == nullptr ? EntryNameSize : static_cast<std::size_t>(terminator - field);
    return std::string(field, length);
}

// A copy buffer no larger than the bytes to copy: most entries are small.
inline std::vector<char> copyBuffer(std::uint64_t length) {
    return std::vector<char>(
        static_cast<std::size_t>(std::min<std::uint64_t>(length, StreamBlockSize)));
}

bool writeIndexTable(RandomAccessFile& file, std::uint64_t position,
                     const std::vector<IndexRow>& rows);
bool writeHeader(RandomAccessFile& file, std::uint32_t entryCount, std::uint32_t version,
                 std::uint32_t indexOffset);
// Overwrites [from, to) with zeros: what no row points to keeps nothing of
// what was removed or moved.
bool writeZeros(RandomAccessFile& file, std::uint64_t from, std::uint64_t to);

} // namespace quorvane::container_bytes
