#pragma once

// The vault's index: its entries, kept in groups of whole entries, each group
// one sealed chunk, and the root that lists the groups. A change rewrites only
// the groups it touches and the root (copy-on-write). Decoding checks every
// number against what the file can hold before anything is allocated from it.

#include "storage/format/sealed/VaultBytes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvane::vault {

enum class EntryKind : unsigned char { File = 1, Folder = 2 };

// A run of a file's chunks that lie one after another in the vault.
struct Extent {
    std::uint64_t offset = 0;
    std::uint32_t chunks = 0;
    bool operator==(const Extent&) const = default;
};

struct VaultEntry {
    std::uint64_t id = 0; // never reused within a safe: it binds the content's chunks
    EntryKind kind = EntryKind::File;
    std::uint16_t mode = 0600; // the owner's bits only
    std::int64_t modifiedSeconds = 0;
    std::uint32_t modifiedNanoseconds = 0;
    std::uint64_t size = 0;
    std::uint64_t generation = 0; // the commit whose chunks hold the content
    std::string path;             // UTF-8, parts joined with '/'
    std::vector<Extent> extents;
    bool operator==(const VaultEntry&) const = default;
};

// Whether path is one we keep: 1 to PathMost bytes of valid UTF-8, parts of 1
// to NamePartMost bytes, none "." or "..", no control characters.
bool validEntryPath(const std::string& path);
// The folder that holds path ("" at the top).
std::string parentOf(const std::string& path);

// The geometry of one vault, for the sizes of a content's chunks.
struct ChunkGeometry {
    std::uint32_t chunkSize = 0;
    std::uint64_t chunkCount(std::uint64_t size) const;
    // Stored bytes of chunk `number` of a content of size bytes.
    std::uint64_t sealedSize(std::uint64_t size, std::uint64_t number) const;
    // Stored bytes of a run of `chunks` chunks from `first` on.
    std::uint64_t sealedSpan(std::uint64_t size, std::uint64_t first, std::uint64_t chunks) const;
};

std::size_t encodedSize(const VaultEntry& entry);
void encodeEntry(const VaultEntry& entry, Bytes& to);
// A group: its entry count (4), then the entries.
void encodeGroupHead(std::uint32_t count, Bytes& to);

// What a decoded entry must fit: its chunks lie between the header and
// lengthInUse, and add up to what its size needs.
struct IndexBounds {
    ChunkGeometry geometry;
    std::uint64_t lengthInUse = 0;
    std::uint64_t nextEntryId = 0;
};
// Appends the group's entries to into; false when the bytes are no group
// within bounds.
bool decodeGroup(const unsigned char* data, std::size_t size, const IndexBounds& bounds,
                 std::vector<VaultEntry>& into);

struct RootRow {
    std::uint64_t offset = 0;
    std::uint32_t sealedSize = 0;
    std::uint32_t group = 0;
    std::uint64_t generation = 0;
};
inline constexpr std::size_t RootRowSize = 24;
void encodeRoot(const std::vector<RootRow>& rows, Bytes& to);
std::optional<std::vector<RootRow>> decodeRoot(const Bytes& bytes, const IndexBounds& bounds);

} // namespace quorvane::vault
