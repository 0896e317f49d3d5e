#pragma once

// Safes and containers made and read without the program's own code: the
// container written byte by byte from its documented layout, the cipher done
// by `openssl enc -aes-256-cbc`.

#include "tests/cli/CliHarness.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quorvane::clitest {

struct StoredFile {
    std::string name; // the name field's bytes (up to 50; longer ones are cut)
    std::string content;
};

std::string le32(std::uint32_t value);
std::string le64(std::uint64_t value);

// A container: header (count, version, index offset), one record per file
// (50-byte zero-padded name, 64-bit size, content), then the index rows.
std::string containerBytes(const std::vector<StoredFile>& files, std::uint32_t version = 2);
// The 16 bytes of a freshly created container.
std::string emptyContainerBytes();

std::string passwordKeyHex(const std::string& password); // SHA-256 of the password, hex

// Writes IV + `openssl enc` ciphertext of plaintext to safePath.
void opensslSeal(const CliSandbox& box, const std::string& plaintext, const std::string& password,
                 const std::string& ivHex, const std::filesystem::path& safePath);
// The container inside a safe, by `openssl enc -d`; nothing when openssl refuses it.
std::optional<std::string> opensslOpen(const CliSandbox& box, const std::filesystem::path& safePath,
                                       const std::string& password);

} // namespace quorvane::clitest
