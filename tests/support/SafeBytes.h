#pragma once

// Containers laid out byte by byte from the documented format, independent
// of the storage code under test, and safes made and read with the real
// cipher.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quorvane::test {

struct StoredFile {
    std::string name; // the name field's bytes (up to 50; longer ones are cut)
    std::string content;
};

std::string le32(std::uint32_t value);
std::string le64(std::uint64_t value);

// Header (count, version, index offset), one record per file (50-byte
// zero-padded name, 64-bit size, content), then the index rows.
std::string containerBytes(const std::vector<StoredFile>& files, std::uint32_t version = 2);
// The 16 bytes of a freshly created container (the last word is never read).
std::string emptyContainerBytes();

// Encrypts container into a safe file at path under password, always with
// the same IV (so wrong-password tests do not depend on chance); throws when
// that fails.
void writeSafe(const std::filesystem::path& path, const std::string& password,
               const std::string& container);
// The container held in the safe file, or nothing when it does not decrypt.
std::optional<std::string> decryptedSafe(const std::filesystem::path& path,
                                         const std::string& password);

} // namespace quorvane::test
