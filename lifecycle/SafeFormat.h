#pragma once

// The two formats of a safe file side by side: the plain one (AES-256-CBC
// under the SHA-256 of the password, the default) and the sealed one (see
// storage/format/SealedSafe.h). Opening, saving and the read-back check of a save
// choose between them here and nowhere else.

#include "lifecycle/Session.h"
#include "storage/Progress.h"
#include "storage/format/SealedSafe.h"

#include <istream>
#include <memory>
#include <ostream>
#include <string>

namespace quorvane {

enum class SafeRead {
    Done,
    Refused,   // "Invalid File or Password": the bytes do not open (or not under this password)
    Damaged,   // sealed, and a later part was changed, cut off or added to
    KeyFailed, // the sealed key could not be derived; the reason is in state.failureReason
};

// Sealed in either version: a first-version key kept for the session, or a vault.
inline bool isSealed(const SafeState& state) {
    return state.sealedKey != nullptr || state.vault.get() != nullptr;
}

// Reads the safe in `in` into plain in the format its first bytes name: a
// plain safe decrypts under plainKey; a sealed one under a key derived from
// state.password and the safe's own header, which is kept in state.sealedKey
// once the safe has opened whole. Runs on the busy step: no shell here.
// Anything but Done leaves state.cipherFailed set.
SafeRead readSafeInItsFormat(SafeState& state, std::istream& in, std::ostream& plain,
                             const std::string& plainKey, const ProgressCallback& progress);

// Writes the content of `in` onto out sealed under sealed when there is one,
// else as a plain safe under plainKey.
void writeSafeInFormat(std::istream& in, std::ostream& out, const std::string& plainKey,
                       const SealedKey* sealed, bool& cipherFailed, std::string& cipherMessage,
                       const ProgressCallback& progress);

// Whether the safe read from `safe` opens, in the format that was written, to
// exactly what plain holds.
bool safeReadsBackAs(std::istream& safe, std::istream& plain, const std::string& plainKey,
                     const SealedKey* sealed, std::string& message);

// A key for sealing the open safe under the session's password with a new
// salt, derived as one busy step under progressText. On failure the user is
// told why and the result is null.
std::unique_ptr<SealedKey> deriveKeyForSealing(Session& session, const std::string& progressText);

} // namespace quorvane
