#pragma once

// Sealed safes of the first version for tests: the program only reads them,
// so they are sealed here with libsodium directly (under small Argon2id
// settings, quick to open), or made and read by an independent implementation
// of the layout (Python with PyNaCl).

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace quorvane {
class SealedKey;
}

namespace quorvane::test {

// The smallest settings the header allows: one pass over 8 MiB.
inline constexpr std::uint32_t QuickPasses = 1;
inline constexpr std::uint32_t QuickMemoryKiB = 8192;

// The first-version sealed safe of container under key (its parameters go
// into the header), with a random stream header.
std::string sealedBytes(const std::string& container, const SealedKey& key);

// Seals container into a sealed safe at path under the quick settings and a
// random salt; throws when that fails.
void writeSealedSafe(const std::filesystem::path& path, const std::string& password,
                     const std::string& container);

// The same through the independent implementation; false when it failed.
bool referenceSeal(const std::filesystem::path& path, const std::string& password,
                   const std::string& container, std::uint32_t passes = QuickPasses,
                   std::uint32_t memoryKiB = QuickMemoryKiB,
                   const std::string& saltHex = "000102030405060708090a0b0c0d0e0f");
// What the independent implementation unseals; nothing when it refuses the file.
std::optional<std::string> referenceUnseal(const std::filesystem::path& path,
                                           const std::string& password);

} // namespace quorvane::test
