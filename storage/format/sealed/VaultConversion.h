#pragma once

// Writing a safe's contents as a new vault: how a plain safe is sealed and
// how a first-version sealed safe is upgraded. The vault is written once,
// laid out without waste (see VaultPacking.h), into a fresh file that is read
// back and then replaces the safe file atomically, as every save of a plain
// safe does; the password's key is derived once.

#include "storage/format/SafeContents.h"
#include "storage/format/sealed/VaultContents.h"

#include <filesystem>
#include <memory>
#include <string>

namespace quorvane {

struct VaultConversion {
    std::unique_ptr<VaultContents> contents; // the new vault, going on in target
    ReplaceResult replaced;                  // why not, when contents is null
};

// Every row of from, in its order, under its own name; a name the vault does
// not take gets " (2)" and so on (a second file of one name), or "_" for
// what the vault does not allow in a name (a slash, a control character,
// bytes that are not UTF-8), so that no file is lost on the way. A first-version
// safe keeps its Argon2id settings in settings. When replaced.replaced() and
// contents is null, the new file is the safe but could not be opened again
// (replaced.warning says so).
VaultConversion convertToVault(SafeContents& from, const ContainerIndex& index,
                               const std::string& password, const vault::VaultSettings& settings,
                               const std::filesystem::path& target, ReplaceGuard guard);

} // namespace quorvane
