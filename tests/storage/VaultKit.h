#pragma once

// Vaults for tests: made under the quickest Argon2id settings the header
// allows, with small chunks so that a few hundred KiB span many of them, and
// read back whole into a map of path to content ("/" marks a folder).

#include "storage/format/sealed/Vault.h"
#include "storage/workingcopy/PlainFile.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace quorvane::test::vaultkit {

using namespace quorvane::vault;
// The vault's, not the lifecycle's OpenResult, where a test sees both.
using quorvane::vault::OpenResult;

inline constexpr std::uint32_t SmallChunk = ChunkSizeLeast; // 16 KiB
inline const std::string Password = "vault password";

inline VaultSettings quickSettings(std::uint32_t chunkSize = SmallChunk) {
    return VaultSettings{1, 8192, chunkSize};
}

inline void createVault(const std::filesystem::path& path, const std::string& password = Password,
                        std::uint32_t chunkSize = SmallChunk) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (const auto failed = Vault::writeNew(out, password, quickSettings(chunkSize)))
        throw std::runtime_error(failed->detail);
}

inline std::unique_ptr<Vault> openVault(const std::filesystem::path& path, OpenResult& outcome,
                                        bool writable = true,
                                        const std::string& password = Password) {
    int error = 0;
    auto file = PlainFile::open(path, writable ? O_RDWR : O_RDONLY, error);
    if (!file)
        throw std::runtime_error("cannot open " + path.string());
    return Vault::open(std::move(file), password, writable, outcome);
}

inline std::unique_ptr<Vault> openVault(const std::filesystem::path& path, bool writable = true) {
    OpenResult outcome = OpenResult::Opened;
    auto vault = openVault(path, outcome, writable);
    if (!vault)
        throw std::runtime_error("the vault does not open: " +
                                 std::to_string(static_cast<int>(outcome)));
    return vault;
}

// Adds content as the file at path, through a source file beside the vault.
inline StepResult addContent(Vault& vault, const std::string& path, const std::string& content,
                             bool replace = false) {
    const std::filesystem::path source = std::filesystem::temp_directory_path() /
                                         ("quorvane-vault-source-" + std::to_string(::getpid()));
    {
        std::ofstream out(source, std::ios::binary | std::ios::trunc);
        out << content;
    }
    int error = 0;
    auto file = PlainFile::open(source, O_RDONLY, error);
    std::filesystem::remove(source);
    return vault.add(path, *file, content.size(), EntryStamp{1700000000, 5, 0600}, replace);
}

// The content of the file at path; throws when it does not read whole.
inline std::string contentOf(Vault& vault, const std::string& path, StepResult* outcome = nullptr) {
    const VaultEntry* entry = vault.find(path);
    std::string content(entry == nullptr ? 0 : entry->size, '\0');
    std::size_t got = 0;
    const StepResult read = vault.read(path, 0, content.data(), content.size(), got);
    if (outcome != nullptr) {
        *outcome = read;
        return content;
    }
    if (read != StepResult::Done || got != content.size())
        throw std::runtime_error(path + " does not read whole");
    return content;
}

using Contents = std::map<std::string, std::string>;

// Every entry: a folder as its path with "/" appended and no content.
inline Contents contentsOf(Vault& vault) {
    Contents contents;
    for (const auto& [path, entry] : vault.entries()) {
        if (entry.kind == EntryKind::Folder)
            contents[path + "/"] = "";
        else
            contents[path] = contentOf(vault, path);
    }
    return contents;
}

// What the vault at path holds under password, opened for reading; nullopt
// when it does not open.
inline std::optional<Contents> vaultContents(const std::filesystem::path& path,
                                             const std::string& password) {
    OpenResult outcome = OpenResult::Opened;
    auto vault = openVault(path, outcome, false, password);
    if (!vault)
        return std::nullopt;
    return contentsOf(*vault);
}

} // namespace quorvane::test::vaultkit

namespace quorvane::test::vaultkit {

// What the commit probe (vault_commit_probe) finds and what it leaves.
inline std::string oldContent() {
    return std::string(200000, 'o');
}
inline std::string newContent() {
    std::string content(300000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 31 / 7);
    return content;
}

} // namespace quorvane::test::vaultkit
