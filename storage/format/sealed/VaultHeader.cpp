#include "storage/format/sealed/VaultHeader.h"

namespace quorvane::vault {

std::uint32_t sealedFormatOf(const unsigned char* bytes, std::size_t count) {
    if (count < SignatureSize || std::memcmp(bytes, SignatureText, SignatureSize) != 0)
        return 0;
    if (count < SignatureSize + 4)
        return ~0u; // sealed, and too short to say which
    return static_cast<std::uint32_t>(leAt(bytes + SignatureSize, 4));
}

void makeFixedPart(std::uint32_t chunkSize, unsigned char* fixed) {
    std::memset(fixed, 0, FixedSize);
    std::memcpy(fixed, SignatureText, SignatureSize);
    putLeAt(fixed + SignatureSize, FormatNumber, 4);
    putLeAt(fixed + ChunkSizeAt, chunkSize, 4);
    randomBytes(fixed + SafeIdAt, SafeIdSize);
}

Bytes headerBytes(const unsigned char* fixed, const KeySlot& key, const SecretKey& commitKey,
                  const CommitState& state) {
    Bytes header(HeaderSize, 0);
    std::memcpy(header.data(), fixed, FixedSize);
    encodeKeySlot(key, header.data() + KeySlotAt[0]);
    sealCommit(commitKey, fixed, 0, state, header.data() + CommitSlotAt[0]);
    return header;
}

std::optional<VaultDescription> describeVault(const unsigned char* bytes, std::size_t count) {
    if (count < HeaderSize || sealedFormatOf(bytes, count) != FormatNumber)
        return std::nullopt;
    VaultDescription description;
    description.chunkSize = static_cast<std::uint32_t>(leAt(bytes + ChunkSizeAt, 4));
    if (!chunkSizeAccepted(description.chunkSize))
        return std::nullopt;
    std::uint64_t newest = 0;
    for (std::size_t at : KeySlotAt) {
        const KeySlot slot = decodeKeySlot(bytes + at);
        if (slot.generation > newest && slot.kdf == KdfArgon2id &&
            sealParametersAccepted(slot.parameters)) {
            newest = slot.generation;
            description.kdf = slot.parameters;
        }
    }
    if (newest == 0)
        return std::nullopt;
    return description;
}

KeyOpenResult unwrapWithPassword(const std::string& password, const unsigned char* fixed,
                                 const KeySlot (&slots)[2], SecretKey& dataKey) {
    const unsigned order[2] = {slots[1].generation > slots[0].generation ? 1u : 0u,
                               slots[1].generation > slots[0].generation ? 0u : 1u};
    bool anyAccepted = false;
    for (unsigned slot : order) {
        const KeySlot& key = slots[slot];
        if (key.generation == 0 || key.kdf != KdfArgon2id ||
            !sealParametersAccepted(key.parameters))
            continue;
        anyAccepted = true;
        SealedKey kek;
        if (kek.derive(password, key.parameters))
            return {OpenResult::KeyFailed, slot};
        if (unwrapDataKey(key, kek, fixed, dataKey))
            return {OpenResult::Opened, slot};
    }
    return {anyAccepted ? OpenResult::WrongPassword : OpenResult::Unacceptable, 0};
}

} // namespace quorvane::vault
