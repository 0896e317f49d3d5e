#pragma once

// The vault's cryptography, all libsodium: the password's key (Argon2id, the
// same bounds as the first sealed version) wraps a random data key; subkeys of
// the data key seal the chunks and the commit slots with
// XChaCha20-Poly1305 (random nonces), each bound to its place.

#include "storage/format/SealedSafe.h"
#include "storage/format/sealed/VaultBytes.h"
#include "storage/format/sealed/VaultLayout.h"

#include <array>
#include <cstdint>
#include <optional>

namespace quorvane::vault {

// 32 secret bytes, kept out of swap where the system allows and wiped when they go.
class SecretKey {
  public:
    SecretKey();
    ~SecretKey();
    SecretKey(const SecretKey&) = delete;
    SecretKey& operator=(const SecretKey&) = delete;

    unsigned char* data() { return bytes_.data(); }
    const unsigned char* data() const { return bytes_.data(); }
    void copyFrom(const SecretKey& other);

  private:
    std::array<unsigned char, KeySize> bytes_{};
};

bool cryptoReady();
void randomBytes(unsigned char* into, std::size_t count);

// The data key's two subkeys.
struct SessionKeys {
    SecretKey data;
    SecretKey chunks;
    SecretKey commits;
};
void deriveSubkeys(SessionKeys& keys);

// A key slot as stored; generation 0 is an empty slot.
struct KeySlot {
    std::uint64_t generation = 0;
    unsigned char kdf = KdfArgon2id;
    SealParameters parameters;
    std::array<unsigned char, NonceSize> nonce{};
    std::array<unsigned char, KeySize + TagSize> wrapped{};
};
void encodeKeySlot(const KeySlot& slot, unsigned char* to); // KeySlotSize bytes
KeySlot decodeKeySlot(const unsigned char* from);

// Seals the data key into slot under the password's key (kek), the slot's
// clear part and the header's fixed part as additional data.
void wrapDataKey(const SecretKey& dataKey, const SealedKey& kek, const unsigned char* fixed,
                 KeySlot& slot);
bool unwrapDataKey(const KeySlot& slot, const SealedKey& kek, const unsigned char* fixed,
                   SecretKey& dataKey);

struct Place {
    ChunkKind kind = ChunkKind::Content;
    std::uint64_t owner = 0;
    std::uint64_t number = 0;
    std::uint64_t generation = 0;
    bool last = true;
};

// Seals count bytes of plain into to (count + SealOverhead bytes).
void sealChunk(const SecretKey& key, const unsigned char* safeId, const Place& place,
               const unsigned char* plain, std::size_t count, unsigned char* to);
// Opens a sealed chunk of sealedCount bytes into plain; false when it does
// not authenticate at this place.
bool openChunk(const SecretKey& key, const unsigned char* safeId, const Place& place,
               const unsigned char* sealed, std::size_t sealedCount, unsigned char* plain);

struct CommitState {
    std::uint64_t generation = 0;
    std::uint64_t rootOffset = 0;
    std::uint64_t rootLength = 0; // plaintext bytes of the root
    std::uint64_t lengthInUse = 0;
    std::uint64_t nextEntryId = 1;
};
void sealCommit(const SecretKey& key, const unsigned char* fixed, unsigned slot,
                const CommitState& state, unsigned char* to); // CommitSlotSize bytes
std::optional<CommitState> openCommit(const SecretKey& key, const unsigned char* fixed,
                                      unsigned slot, const unsigned char* from);

} // namespace quorvane::vault
