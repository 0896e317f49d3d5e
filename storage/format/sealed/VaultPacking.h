#pragma once

// A vault laid out without waste, as a fresh file holds it: every file's
// chunks in one run, in path order right behind the header, then the index
// groups, then the root. Compaction writes it from a vault's chunks, and a
// safe written as a vault for the first time from its plaintext.

#include "storage/format/sealed/VaultCrypto.h"
#include "storage/format/sealed/VaultIndex.h"

#include <map>
#include <string>
#include <vector>

namespace quorvane::vault {

struct PackedIndex {
    std::vector<Bytes> groups; // sealed, one after another behind the contents
    Bytes root;                // sealed, behind the groups
    CommitState state;         // what the header's commit slot says
};

// Gives every file in entries its one extent and seals the groups and the
// root under generation; the header's slot then names them with state.
PackedIndex packIndex(std::map<std::string, VaultEntry>& entries, const ChunkGeometry& geometry,
                      const SecretKey& chunkKey, const unsigned char* safeId,
                      std::uint64_t generation, std::uint64_t nextEntryId);

} // namespace quorvane::vault
