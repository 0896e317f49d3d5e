#pragma once

// Safes and containers made and read without the program's own code: the
// container written byte by byte from its documented layout, the cipher done
// by `openssl enc -aes-256-cbc`.

#include "tests/cli/CliHarness.h"
#include "tests/support/SafeBytes.h"

#include <filesystem>
#include <optional>
#include <string>

namespace quorvane::clitest {

using test::containerBytes;
using test::emptyContainerBytes;
using test::le32;
using test::le64;
using test::StoredFile;

std::string passwordKeyHex(const std::string& password); // SHA-256 of the password, hex

// Writes IV + `openssl enc` ciphertext of plaintext to safePath.
void opensslSeal(const CliSandbox& box, const std::string& plaintext, const std::string& password,
                 const std::string& ivHex, const std::filesystem::path& safePath);
// The container inside a safe, by `openssl enc -d`; nothing when openssl refuses it.
std::optional<std::string> opensslOpen(const CliSandbox& box, const std::filesystem::path& safePath,
                                       const std::string& password);

} // namespace quorvane::clitest
