#include "storage/format/sealed/VaultCrypto.h"

#include <sodium.h>

namespace quorvane::vault {
namespace {

static_assert(NonceSize == crypto_aead_xchacha20poly1305_ietf_NPUBBYTES);
static_assert(TagSize == crypto_aead_xchacha20poly1305_ietf_ABYTES);
static_assert(KeySize == crypto_aead_xchacha20poly1305_ietf_KEYBYTES);
static_assert(KeySize == crypto_kdf_KEYBYTES &&
              sizeof(SubkeyContext) - 1 == crypto_kdf_CONTEXTBYTES);
static_assert(KeySlotUsed <= KeySlotSize);

// Seals with a fresh random nonce in front: nonce, ciphertext, tag.
void sealWithNonce(const unsigned char* key, const unsigned char* ad, std::size_t adCount,
                   const unsigned char* plain, std::size_t count, unsigned char* to) {
    ::randombytes_buf(to, NonceSize);
    ::crypto_aead_xchacha20poly1305_ietf_encrypt(to + NonceSize, nullptr, plain, count, ad, adCount,
                                                 nullptr, to, key);
}

bool openWithNonce(const unsigned char* key, const unsigned char* ad, std::size_t adCount,
                   const unsigned char* sealed, std::size_t sealedCount, unsigned char* plain) {
    if (sealedCount < SealOverhead)
        return false;
    return ::crypto_aead_xchacha20poly1305_ietf_decrypt(plain, nullptr, nullptr, sealed + NonceSize,
                                                        sealedCount - NonceSize, ad, adCount,
                                                        sealed, key) == 0;
}

using PlaceAd = std::array<unsigned char, PlaceSize>;
using KeySlotAd = std::array<unsigned char, FixedSize + KeySlotClearSize>;
using CommitAd = std::array<unsigned char, FixedSize + 1>;

PlaceAd placeBytes(const unsigned char* safeId, const Place& place) {
    PlaceAd ad{};
    std::memcpy(ad.data(), safeId, SafeIdSize);
    ad[SafeIdSize] = static_cast<unsigned char>(place.kind);
    putLeAt(ad.data() + SafeIdSize + 1, place.owner, 8);
    putLeAt(ad.data() + SafeIdSize + 9, place.number, 8);
    putLeAt(ad.data() + SafeIdSize + 17, place.generation, 8);
    ad[PlaceSize - 1] = place.last ? 1 : 0;
    return ad;
}

KeySlotAd keySlotAd(const unsigned char* fixed, const unsigned char* slotBytes) {
    KeySlotAd ad{};
    std::memcpy(ad.data(), fixed, FixedSize);
    std::memcpy(ad.data() + FixedSize, slotBytes, KeySlotClearSize);
    return ad;
}

CommitAd commitAd(const unsigned char* fixed, unsigned slot) {
    CommitAd ad{};
    std::memcpy(ad.data(), fixed, FixedSize);
    ad[FixedSize] = static_cast<unsigned char>(slot);
    return ad;
}

} // namespace

SecretKey::SecretKey() {
    // Where the system refuses the lock (a low RLIMIT_MEMLOCK) the key still works.
    static_cast<void>(::sodium_mlock(bytes_.data(), bytes_.size()));
}

SecretKey::~SecretKey() {
    ::sodium_munlock(bytes_.data(), bytes_.size()); // wipes before it unlocks
    ::sodium_memzero(bytes_.data(), bytes_.size());
}

void SecretKey::copyFrom(const SecretKey& other) {
    bytes_ = other.bytes_;
}

bool cryptoReady() {
    static const bool ready = ::sodium_init() >= 0;
    return ready;
}

void randomBytes(unsigned char* into, std::size_t count) {
    ::randombytes_buf(into, count);
}

void deriveSubkeys(SessionKeys& keys) {
    ::crypto_kdf_derive_from_key(keys.chunks.data(), KeySize, ChunkSubkey, SubkeyContext,
                                 keys.data.data());
    ::crypto_kdf_derive_from_key(keys.commits.data(), KeySize, CommitSubkey, SubkeyContext,
                                 keys.data.data());
}

void encodeKeySlot(const KeySlot& slot, unsigned char* to) {
    std::memset(to, 0, KeySlotSize);
    putLeAt(to, slot.generation, 8);
    to[8] = slot.kdf;
    putLeAt(to + 9, slot.parameters.passes, 4);
    putLeAt(to + 13, slot.parameters.memoryKiB, 4);
    std::memcpy(to + 17, slot.parameters.salt.data(), SealSaltSize);
    std::memcpy(to + KeySlotClearSize, slot.nonce.data(), NonceSize);
    std::memcpy(to + KeySlotClearSize + NonceSize, slot.wrapped.data(), slot.wrapped.size());
}

KeySlot decodeKeySlot(const unsigned char* from) {
    KeySlot slot;
    slot.generation = leAt(from, 8);
    slot.kdf = from[8];
    slot.parameters.passes = static_cast<std::uint32_t>(leAt(from + 9, 4));
    slot.parameters.memoryKiB = static_cast<std::uint32_t>(leAt(from + 13, 4));
    std::memcpy(slot.parameters.salt.data(), from + 17, SealSaltSize);
    std::memcpy(slot.nonce.data(), from + KeySlotClearSize, NonceSize);
    std::memcpy(slot.wrapped.data(), from + KeySlotClearSize + NonceSize, slot.wrapped.size());
    return slot;
}

void wrapDataKey(const SecretKey& dataKey, const SealedKey& kek, const unsigned char* fixed,
                 KeySlot& slot) {
    slot.parameters = kek.parameters();
    unsigned char bytes[KeySlotSize];
    encodeKeySlot(slot, bytes);
    const KeySlotAd ad = keySlotAd(fixed, bytes);
    unsigned char sealed[SealOverhead + KeySize];
    sealWithNonce(kek.bytes(), ad.data(), ad.size(), dataKey.data(), KeySize, sealed);
    std::memcpy(slot.nonce.data(), sealed, NonceSize);
    std::memcpy(slot.wrapped.data(), sealed + NonceSize, slot.wrapped.size());
}

bool unwrapDataKey(const KeySlot& slot, const SealedKey& kek, const unsigned char* fixed,
                   SecretKey& dataKey) {
    unsigned char bytes[KeySlotSize];
    encodeKeySlot(slot, bytes);
    const KeySlotAd ad = keySlotAd(fixed, bytes);
    return openWithNonce(kek.bytes(), ad.data(), ad.size(), bytes + KeySlotClearSize,
                         NonceSize + slot.wrapped.size(), dataKey.data());
}

void sealChunk(const SecretKey& key, const unsigned char* safeId, const Place& place,
               const unsigned char* plain, std::size_t count, unsigned char* to) {
    const PlaceAd ad = placeBytes(safeId, place);
    sealWithNonce(key.data(), ad.data(), ad.size(), plain, count, to);
}

bool openChunk(const SecretKey& key, const unsigned char* safeId, const Place& place,
               const unsigned char* sealed, std::size_t sealedCount, unsigned char* plain) {
    const PlaceAd ad = placeBytes(safeId, place);
    return openWithNonce(key.data(), ad.data(), ad.size(), sealed, sealedCount, plain);
}

void sealCommit(const SecretKey& key, const unsigned char* fixed, unsigned slot,
                const CommitState& state, unsigned char* to) {
    Bytes body;
    for (std::uint64_t value : {state.generation, state.rootOffset, state.rootLength,
                                state.lengthInUse, state.nextEntryId})
        putLe(body, value, 8);
    const CommitAd ad = commitAd(fixed, slot);
    sealWithNonce(key.data(), ad.data(), ad.size(), body.data(), body.size(), to);
}

std::optional<CommitState> openCommit(const SecretKey& key, const unsigned char* fixed,
                                      unsigned slot, const unsigned char* from) {
    const CommitAd ad = commitAd(fixed, slot);
    unsigned char body[CommitBodySize];
    if (!openWithNonce(key.data(), ad.data(), ad.size(), from, CommitSlotSize, body))
        return std::nullopt;
    CommitState state;
    state.generation = leAt(body, 8);
    state.rootOffset = leAt(body + 8, 8);
    state.rootLength = leAt(body + 16, 8);
    state.lengthInUse = leAt(body + 24, 8);
    state.nextEntryId = leAt(body + 32, 8);
    return state;
}

} // namespace quorvane::vault
