#pragma once

// The texts of the plain format's failures (Failure::detail). Internal to
// storage/format.

namespace quorvane::cipher_text {

inline constexpr const char* EncryptedInputNotOpen = "Couldn't open encrypted input file";
inline constexpr const char* OutputNotOpen = "Couldn't open desired output file";
inline constexpr const char* PlainInputNotOpen = "Couldn't open plaintext input file";
inline constexpr const char* ReadFailed = "Couldn't read the input file to the end";
inline constexpr const char* WriteFailed = "Couldn't write the whole output file";
inline constexpr const char* SafeWithoutIv = "The safe file is too short to hold an IV";
inline constexpr const char* SafeWithoutCiphertext = "The safe file holds no encrypted data";
inline constexpr const char* NoRandomness = "Couldn't get random bytes from the system";
inline constexpr const char* DecryptsToOtherBytes =
    "The written safe file does not decrypt to the working copy";
inline constexpr const char* UnknownFailure = "Unknown failure while encrypting or decrypting";

} // namespace quorvane::cipher_text
