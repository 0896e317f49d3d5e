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

// Whether the safe's decryption under password is refused. Throws when the
// file cannot be read at all, so a missing safe is never taken for a refusal.
bool refusesPassword(const std::filesystem::path& safe, const std::string& password);
// A password that the safe refuses: base, else base + "1", base + "2", ...
// The format has no key check, so under a wrong key the padding comes out
// valid for about one IV in 256; a safe written by the program has a random
// IV, and a test that wants a refusal picks its wrong password here.
std::string refusedPasswordFor(const std::filesystem::path& safe,
                               const std::string& base = "wrong");

} // namespace quorvane::test
