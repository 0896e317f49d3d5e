#include "storage/format/sealed/VaultPacking.h"

#include <algorithm>

namespace quorvane::vault {

namespace {

// Entries in path order, as many whole ones to a group as a chunk holds.
void sealGroups(const std::map<std::string, VaultEntry>& entries, const ChunkGeometry& geometry,
                const SecretKey& chunkKey, const unsigned char* safeId, std::uint64_t generation,
                std::uint64_t& at, PackedIndex& packed, std::vector<RootRow>& rows) {
    Bytes plain;
    std::uint32_t count = 0;
    const auto flush = [&] {
        if (count == 0)
            return;
        putLeAt(plain.data(), count, 4);
        Bytes sealed(plain.size() + SealOverhead);
        const auto number = static_cast<std::uint32_t>(rows.size());
        sealChunk(chunkKey, safeId, Place{ChunkKind::IndexGroup, number, 0, generation, true},
                  plain.data(), plain.size(), sealed.data());
        rows.push_back({at, static_cast<std::uint32_t>(sealed.size()), number, generation});
        at += sealed.size();
        packed.groups.push_back(std::move(sealed));
        plain.clear();
        count = 0;
    };
    for (const auto& [path, entry] : entries) {
        if (!plain.empty() && plain.size() + encodedSize(entry) > geometry.chunkSize)
            flush();
        if (plain.empty())
            encodeGroupHead(0, plain);
        encodeEntry(entry, plain);
        ++count;
    }
    flush();
}

} // namespace

PackedIndex packIndex(std::map<std::string, VaultEntry>& entries, const ChunkGeometry& geometry,
                      const SecretKey& chunkKey, const unsigned char* safeId,
                      std::uint64_t generation, std::uint64_t nextEntryId) {
    std::uint64_t at = HeaderSize;
    for (auto& [path, entry] : entries) {
        const std::uint64_t chunks = geometry.chunkCount(entry.size);
        entry.extents.clear();
        if (chunks == 0)
            continue;
        entry.extents = {{at, static_cast<std::uint32_t>(chunks)}};
        at += geometry.sealedSpan(entry.size, 0, chunks);
    }
    PackedIndex packed;
    std::vector<RootRow> rows;
    sealGroups(entries, geometry, chunkKey, safeId, generation, at, packed, rows);
    Bytes root;
    encodeRoot(rows, root);
    const std::uint64_t rootChunks = geometry.chunkCount(root.size());
    packed.root.resize(geometry.sealedSpan(root.size(), 0, rootChunks));
    for (std::uint64_t i = 0, from = 0, to = 0; i < rootChunks; ++i) {
        const std::size_t part = static_cast<std::size_t>(
            std::min<std::uint64_t>(geometry.chunkSize, root.size() - from));
        sealChunk(chunkKey, safeId, Place{ChunkKind::Root, 0, i, generation, i + 1 == rootChunks},
                  root.data() + from, part, packed.root.data() + to);
        from += part;
        to += part + SealOverhead;
    }
    packed.state = {generation, at, root.size(), at + packed.root.size(), nextEntryId};
    return packed;
}

} // namespace quorvane::vault
