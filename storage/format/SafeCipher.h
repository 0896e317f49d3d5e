#pragma once

// The safe file: a 16-byte random IV followed by the AES-256-CBC (PKCS #7)
// ciphertext of the container; the key is SHA-256 of the password.

#include "storage/Failure.h"
#include "storage/Progress.h"

#include <istream>
#include <optional>
#include <ostream>
#include <string>

namespace quorvane {

std::string derivePasswordKey(const std::string& password); // 32 raw digest bytes
std::string randomBytes(std::size_t n);  // empty when the system gives no randomness
bool isHexText(const std::string& text); // only "0123456789ABCDEF"
std::string fromHexIfHex(const std::string& text);

// The bytes the plain format's cipher is keyed with, for a key from
// derivePasswordKey (the hex reading that the stream routines give every key).
std::string plainCipherKey(const std::string& key);

// Writes IV + ciphertext of everything in `in` to `out`. Nothing when done,
// else why: the program's text, or the library's (error 0 either way).
[[nodiscard]] std::optional<Failure> encryptSafe(std::istream& in, std::ostream& out,
                                                 const std::string& key,
                                                 const ProgressCallback& progress = {});
// Writes the container held in the safe read from `in` to `out`, with the
// same answer. On failure `out` may hold a part of the plaintext, which is
// the caller's to discard.
[[nodiscard]] std::optional<Failure> decryptSafe(std::istream& in, std::ostream& out,
                                                 const std::string& key,
                                                 const ProgressCallback& progress = {});

// Decrypts the safe read from `safe` and compares it, byte by byte as it comes,
// with everything in `plaintext` from its start. Nothing when they are the
// same, else why (a difference, a safe that does not decrypt, or a read error).
[[nodiscard]] std::optional<Failure> safeDecryptsTo(std::istream& safe, std::istream& plaintext,
                                                    const std::string& key);

} // namespace quorvane
