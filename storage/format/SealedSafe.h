#pragma once

// The sealed safe of the first version, which is only read (and then written
// as a vault, storage/format/sealed/): the same container as a plain safe, under a key derived
// with Argon2id from the password and a random salt, and sealed in 1 MiB
// pieces with libsodium's secretstream (XChaCha20-Poly1305), so that a wrong
// password, a changed byte, a cut-off file or bytes appended to it are all
// detected. Layout, all numbers little-endian:
//
//   8  signature "QVSEAL\r\n"       4  format number (1)
//   1  key derivation (1: Argon2id 1.3)
//   4  Argon2id passes              4  Argon2id memory in KiB
//   16 salt                         24 secretstream header
//   then the pieces, each 17 bytes longer than its plaintext; the last one
//   (possibly empty) carries the final tag, and the first one takes the 61
//   bytes above as additional data, so that the header cannot be changed.
//
// Any file that does not begin with the signature is a plain safe.

#include "storage/Failure.h"
#include "storage/Progress.h"

#include <array>
#include <cstdint>
#include <istream>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

namespace quorvane {

inline constexpr std::size_t SealSignatureSize = 8;
inline constexpr std::size_t SealedHeaderSize = 61; // signature to stream header
inline constexpr std::size_t SealSaltSize = 16;
inline constexpr std::size_t SealKeySize = 32;
inline constexpr std::size_t SealedPieceSize = StreamBlockSize;
inline constexpr std::size_t SealedPieceOverhead = 17;

// What a new safe, and every new salt, is derived with.
inline constexpr std::uint32_t SealPassesDefault = 3;
inline constexpr std::uint32_t SealMemoryKiBDefault = 65536;

struct SealParameters {
    std::uint32_t passes = SealPassesDefault;
    std::uint32_t memoryKiB = SealMemoryKiBDefault;
    std::array<unsigned char, SealSaltSize> salt{};
};

// Within the bounds that reading accepts: passes 1..16, memory 8..256 MiB,
// and passes times memory at most 4 times the default's (3 passes over 256
// MiB, 12 over 64 MiB). A header outside them is refused before any
// derivation, so that a file cannot make us spend many seconds or gigabytes.
bool sealParametersAccepted(const SealParameters& parameters);

// Whether these bytes (the first of a file; fewer than 8 is never) are the signature.
bool hasSealSignature(const std::string& firstBytes);

enum class SealedHeaderResult {
    Read,
    NotSealed,    // no signature: a plain safe
    Unacceptable, // sealed, but too short, of another format or out of bounds
    ReadFailed,   // the stream failed
};

// Reads the 61-byte header from the start of in and leaves in just after it.
SealedHeaderResult readSealedHeader(std::istream& in, SealParameters& parameters);

// The key of one sealed safe, with the parameters it was derived with. It
// lives where it is allocated, locked against swapping where the system
// allows, and is wiped when it goes.
class SealedKey {
  public:
    SealedKey();
    ~SealedKey();
    SealedKey(const SealedKey&) = delete;
    SealedKey& operator=(const SealedKey&) = delete;

    const SealParameters& parameters() const { return parameters_; }
    const unsigned char* bytes() const { return key_.data(); }

    // Derives the key from password under parameters (refused out of
    // bounds); why not, when it failed. Nothing is kept on failure.
    [[nodiscard]] std::optional<Failure> derive(const std::string& password,
                                                const SealParameters& parameters);

  private:
    std::array<unsigned char, SealKeySize> key_{};
    SealParameters parameters_;
};

struct NewSealedKeyResult {
    std::unique_ptr<SealedKey> key; // null on failure
    Failure failure;                // why, when key is null
};

// A key for a new sealed safe: a fresh random salt and the default passes and
// memory (or the given ones).
NewSealedKeyResult deriveNewSealedKey(const std::string& password,
                                      std::uint32_t passes = SealPassesDefault,
                                      std::uint32_t memoryKiB = SealMemoryKiBDefault);

enum class Unsealing {
    Done,
    Refused,     // the header or the first piece does not open: wrong password or no safe
    Damaged,     // a later piece does not authenticate, no final piece, or bytes after it
    ReadFailed,  // the safe could not be read
    WriteFailed, // the output could not be written
};

struct UnsealResult {
    Unsealing outcome = Unsealing::Done;
    Failure failure; // why, unless Done
};

// Unseals the safe read from the start of `in` onto sink with key; what was
// written before a failure is the caller's to discard.
UnsealResult unsealStream(std::istream& in, std::ostream& sink, const SealedKey& key,
                          const ProgressCallback& progress = {});

} // namespace quorvane
