#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorvane {

// One row of the index table at the end of a container.
struct IndexRow {
    std::uint32_t entryNumber = 0;
    std::uint32_t entryOffset = 0;

    bool operator==(const IndexRow&) const = default;
};

// What the list shows of an entry: the low 32 bits of its stored size and its
// name (the bytes of the 50-byte name field up to the first zero byte).
struct EntryDetail {
    std::uint32_t size = 0;
    std::string name;

    bool operator==(const EntryDetail&) const = default;
};

// The in-memory view of a loaded container, replaced as a whole by every load.
// Row i of indexRows and of entryDetails describe the same stored file.
struct ContainerIndex {
    std::uint32_t entryCount = 0;
    std::uint32_t formatVersion = 0;
    std::uint32_t indexOffset = 0;
    // The file's length when it was loaded. Kept 64-bit so that a damaged or
    // oversized file is measured honestly; a valid container stays below 4 GiB.
    std::uint64_t workingCopyLength = 0;
    std::vector<IndexRow> indexRows;
    std::vector<EntryDetail> entryDetails;

    bool operator==(const ContainerIndex&) const = default;
};

inline constexpr std::uint32_t ContainerVersion = 2;
inline constexpr std::size_t EntryNameSize = 50;
inline constexpr std::size_t EntryHeaderSize = 58; // name field + 64-bit size
inline constexpr std::size_t IndexRowSize = 8;
inline constexpr std::size_t ContainerHeaderSize = 12;
inline constexpr std::uint64_t ContainerLimit = 0xFFFFFFFFull; // largest container length

} // namespace quorvane
