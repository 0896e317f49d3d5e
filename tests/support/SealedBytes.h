#pragma once

// Sealed safes for tests: made with the program's own sealing under small
// Argon2id settings (quick to open), and made or read by an independent
// implementation of the layout (Python with PyNaCl).

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace quorvane::test {

// The smallest settings the header allows: one pass over 8 MiB.
inline constexpr std::uint32_t QuickPasses = 1;
inline constexpr std::uint32_t QuickMemoryKiB = 8192;

// Seals container into a sealed safe at path with our own code, under the
// quick settings and a random salt; throws when that fails.
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
