#pragma once

// The one routine that puts a freshly encrypted safe in place, shared by New
// Safe and every save.

#include "ui/Shell.h"

#include <filesystem>
#include <string>

namespace quorvane {

// Encrypts the file at plaintext under key onto target by atomic replacement,
// as one busy step of shell. cipherFailed and cipherMessage report a failure of
// the cipher itself; the result is false on any failure, and target is then
// untouched.
bool encryptFileOnto(Shell& shell, const std::filesystem::path& plaintext,
                     const std::filesystem::path& target, const std::string& key,
                     bool& cipherFailed, std::string& cipherMessage);

} // namespace quorvane
