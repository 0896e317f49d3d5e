#pragma once

// The vault's first 4096 bytes: what identifies it, the key slots and the
// commit slots (see VaultLayout.h).

#include "storage/format/sealed/Vault.h"

namespace quorvane::vault {

// The sealed format number of a file that begins with these bytes: 0 when it
// is not sealed at all (a plain safe), else what follows the signature.
std::uint32_t sealedFormatOf(const unsigned char* bytes, std::size_t count);

// Signature, format number, chunk size and a fresh random safe id.
void makeFixedPart(std::uint32_t chunkSize, unsigned char* fixed);

// A whole header: fixed part, key in slot 0 (slot 1 empty), state in commit
// slot 0 (slot 1 empty, which opens as nothing).
Bytes headerBytes(const unsigned char* fixed, const KeySlot& key, const SecretKey& commitKey,
                  const CommitState& state);

// What the header tells without a password.
struct VaultDescription {
    std::uint32_t chunkSize = 0;
    SealParameters kdf; // of the newest key slot within bounds
};
// From the first bytes of a file of the second sealed version (at least the
// whole header); nothing when they are cut or out of bounds.
std::optional<VaultDescription> describeVault(const unsigned char* bytes, std::size_t count);

struct KeyOpenResult {
    OpenResult outcome = OpenResult::WrongPassword;
    unsigned slot = 0;
};
// Derives the password's key for each key slot that holds one, newest first,
// until one unwraps the data key. Slots out of bounds are never derived.
KeyOpenResult unwrapWithPassword(const std::string& password, const unsigned char* fixed,
                                 const KeySlot (&slots)[2], SecretKey& dataKey);

} // namespace quorvane::vault
