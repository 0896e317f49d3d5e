#pragma once

// The two formats of a safe file side by side: the plain one (AES-256-CBC
// under the SHA-256 of the password, the default) and the sealed one (see
// storage/format/SealedSafe.h). Opening chooses between them here and nowhere
// else; a sealed safe is written as a vault (lifecycle/VaultWriting.cpp).

#include "lifecycle/Session.h"
#include "storage/Failure.h"
#include "storage/Progress.h"
#include "storage/format/SealedSafe.h"

#include <istream>
#include <ostream>
#include <string>

namespace quorvane {

enum class SafeRead {
    Done,
    Refused,   // "Invalid File or Password": the bytes do not open (or not under this password)
    Damaged,   // sealed, and a later part was changed, cut off or added to
    KeyFailed, // the sealed key could not be derived
};

struct SafeReadResult {
    SafeRead read = SafeRead::Refused;
    Failure failure; // with KeyFailed: why the key could not be derived
};

// Sealed in either version: a first-version key kept for the session, or a vault.
inline bool isSealed(const SafeState& state) {
    return state.sealedKey != nullptr || state.vault.get() != nullptr;
}

// Reads the safe in `in` into plain in the format its first bytes name: a
// plain safe decrypts under plainKey; a sealed one under a key derived from
// state.password and the safe's own header, which is kept in state.sealedKey
// once the safe has opened whole. Runs on the busy step: no shell here.
SafeReadResult readSafeInItsFormat(SafeState& state, std::istream& in, std::ostream& plain,
                                   const std::string& plainKey, const ProgressCallback& progress);

} // namespace quorvane
