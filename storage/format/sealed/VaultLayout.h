#pragma once

// Where everything lies in a sealed safe of the second version, a vault in one
// file. docs/FORMAT.md describes the same bytes for a reader written without
// this code; every number here is little-endian.
//
//   0     4096  the header: what identifies the safe, two key slots, two commit slots
//   4096  ...   sealed chunks: file contents, index groups and the root, each
//               24 bytes of nonce, the ciphertext, 16 bytes of tag

#include <cstddef>
#include <cstdint>

namespace quorvane::vault {

// The first sealed version's signature; the format number after it tells them apart.
inline constexpr char SignatureText[] = "QVSEAL\r\n";
inline constexpr std::size_t SignatureSize = 8;
inline constexpr std::uint32_t FormatNumber = 2;

inline constexpr std::size_t HeaderSize = 4096;
// Signature, format number, chunk size, safe id: the additional data of every
// key slot and commit slot, so that none of them can be changed unnoticed.
inline constexpr std::size_t FixedSize = 32;
inline constexpr std::size_t ChunkSizeAt = 12;
inline constexpr std::size_t SafeIdAt = 16;
inline constexpr std::size_t SafeIdSize = 16;

inline constexpr std::size_t NonceSize = 24;
inline constexpr std::size_t TagSize = 16;
inline constexpr std::size_t SealOverhead = NonceSize + TagSize;
inline constexpr std::size_t KeySize = 32;

// Key slot: generation (8; 0 = empty), key derivation (1; 1 = Argon2id 1.3),
// passes (4), memory KiB (4), salt (16), nonce (24), data key sealed (48).
inline constexpr std::size_t KeySlotAt[2] = {64, 192};
inline constexpr std::size_t KeySlotSize = 128;
inline constexpr std::size_t KeySlotClearSize = 33; // what the wrap authenticates
inline constexpr std::size_t KeySlotUsed = KeySlotClearSize + NonceSize + KeySize + TagSize;
inline constexpr unsigned char KdfArgon2id = 1;

// Commit slot: nonce (24), then sealed: generation, root offset, root length,
// length in use, next entry id (8 each), then the tag (16).
inline constexpr std::size_t CommitSlotAt[2] = {512, 1024};
inline constexpr std::size_t CommitBodySize = 40;
inline constexpr std::size_t CommitSlotSize = NonceSize + CommitBodySize + TagSize;

// Chunks hold this much plaintext at most; every chunk of a file's content but
// its last holds exactly this much.
inline constexpr std::uint32_t ChunkSizeDefault = 64 * 1024;
inline constexpr std::uint32_t ChunkSizeLeast =
    16 * 1024; // an entry of the longest path fits a group
inline constexpr std::uint32_t ChunkSizeMost = 1024 * 1024;

inline bool chunkSizeAccepted(std::uint32_t size) {
    return size >= ChunkSizeLeast && size <= ChunkSizeMost && (size & (size - 1)) == 0;
}

// What a chunk is; part of its additional data.
enum class ChunkKind : unsigned char { Content = 1, IndexGroup = 2, Root = 3 };

// A chunk's place: which safe (its id), what kind, whose (entry id, group
// number, 0 for the root), which of its chunks, the commit that wrote it, and
// whether it is the last. Sealed into the chunk as additional data, so that a
// chunk moved, swapped, replayed from an older commit, taken from another
// safe or cut off the end does not open.
inline constexpr std::size_t PlaceSize = SafeIdSize + 1 + 8 + 8 + 8 + 1;

// Bounds that hold before anything is allocated from a file's numbers.
inline constexpr std::size_t PathMost = 4095;
inline constexpr std::size_t NamePartMost = 255;

// The key derivation's context and the numbers of the subkeys of the data key.
inline constexpr char SubkeyContext[] = "QVvault2";
inline constexpr std::uint64_t ChunkSubkey = 1;
inline constexpr std::uint64_t CommitSubkey = 2;

} // namespace quorvane::vault
