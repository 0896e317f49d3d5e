#include "storage/format/sealed/VaultConversion.h"

#include "storage/workingcopy/PlainFile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <system_error>

namespace quorvane {

namespace {

// One row of a safe's contents as the source of an add.
class RowSource final : public RandomAccessFile {
  public:
    RowSource(SafeContents& contents, const ContainerIndex& index, std::size_t row)
        : contents_(contents), index_(index), row_(row) {}

    bool readAt(std::uint64_t offset, void* into, std::size_t count) override {
        auto* at = static_cast<char*>(into);
        while (count > 0) {
            const std::int64_t got = contents_.read(index_, row_, offset, at, count);
            if (got <= 0)
                return false;
            offset += static_cast<std::uint64_t>(got);
            at += got;
            count -= static_cast<std::size_t>(got);
        }
        return true;
    }
    bool writeAt(std::uint64_t, const void*, std::size_t) override { return false; }
    std::uint64_t length() const override { return index_.entryDetails[row_].size; }
    bool resize(std::uint64_t) override { return false; }
    bool sync() override { return true; }
    int lastError() const override { return contents_.lastError(); }

  private:
    SafeContents& contents_;
    const ContainerIndex& index_;
    std::size_t row_;
};

std::string freeNameFor(const vault::Vault& vault, std::string name) {
    std::replace(name.begin(), name.end(), '/', '_');
    if (!vault::validEntryPath(name))
        name = "_" + name;
    std::string candidate = name;
    for (unsigned n = 2; vault.find(candidate) != nullptr || !vault::validEntryPath(candidate); ++n)
        candidate = name + " (" + std::to_string(n) + ")";
    return candidate;
}

std::unique_ptr<vault::Vault> emptyVaultAt(const std::filesystem::path& scratch,
                                           const std::string& password,
                                           const vault::VaultSettings& settings, std::string& why) {
    {
        std::ofstream out(scratch, std::ios::binary | std::ios::trunc);
        if (!out || !vault::Vault::writeNew(out, password, settings, why))
            return nullptr;
        out.close();
        if (!out) {
            why = "Couldn't write the whole output file";
            return nullptr;
        }
    }
    int error = 0;
    auto file = PlainFile::open(scratch, O_RDWR, error);
    if (!file) {
        why = failureText(error);
        return nullptr;
    }
    vault::Opening opening = vault::Opening::ReadFailed;
    auto opened = vault::Vault::open(std::move(file), password, true, opening);
    if (!opened)
        why = "The new sealed safe could not be opened";
    return opened;
}

} // namespace

VaultConversion convertToVault(SafeContents& from, const ContainerIndex& index,
                               const std::string& password, const vault::VaultSettings& settings,
                               const std::filesystem::path& scratch,
                               const std::filesystem::path& target, ReplaceGuard guard) {
    VaultConversion conversion;
    std::unique_ptr<vault::Vault> vault =
        emptyVaultAt(scratch, password, settings, conversion.replaced.reason);
    const std::size_t rows = std::min(index.entryDetails.size(), index.indexRows.size());
    for (std::size_t row = 0; vault && row < rows; ++row) {
        RowSource source(from, index, row);
        const vault::EntryStamp stamp;
        const std::string name = freeNameFor(*vault, index.entryDetails[row].name);
        if (vault->add(name, source, source.length(), stamp) != vault::Outcome::Done) {
            conversion.replaced.reason = failureText(
                from.lastError() != 0 ? from.lastError()
                                      : (vault->lastError() != 0 ? vault->lastError() : EIO));
            vault.reset();
        }
    }
    if (vault && vault->commit() != vault::Outcome::Done) {
        conversion.replaced.reason =
            failureText(vault->lastError() != 0 ? vault->lastError() : EIO);
        vault.reset();
    }
    if (vault) {
        conversion.replaced = vault->compact(target, std::move(guard));
        if (conversion.replaced.ok)
            conversion.contents = std::make_unique<VaultContents>(std::move(vault));
    }
    std::error_code ignored;
    std::filesystem::remove(scratch, ignored);
    return conversion;
}

} // namespace quorvane
