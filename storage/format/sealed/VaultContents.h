#pragma once

// A vault's contents behind the one interface: reads open the chunks they
// need straight from the safe file, changes append to it, and a commit (not a
// rewrite) makes them the safe's state. Rows keep the order a container
// would: the files in path order at the open, each add as a new last row.
//
// The vault writes into the safe file under the session, so the identity the
// session expects of it (see FileIdentity) moves with every write of our own;
// any other change to the file makes every later call fail with
// SafeChangedInPlace.

#include "storage/files/FileIdentity.h"
#include "storage/format/SafeContents.h"
#include "storage/format/sealed/Vault.h"

#include <memory>
#include <vector>

namespace quorvane {

class VaultContents final : public SafeContents {
  public:
    explicit VaultContents(std::unique_ptr<vault::Vault> vault);

    IndexReadReport list(ContainerIndex& index) override;
    std::int64_t read(const ContainerIndex& index, std::size_t row, std::uint64_t offset,
                      void* into, std::size_t count) override;
    bool extract(const ContainerIndex& index, std::size_t row, std::ostream& out,
                 const ProgressCallback& progress) override;
    std::uint64_t room(const ContainerIndex& index) const override;
    AppendResult add(ContainerIndex& index, RandomAccessFile& source, const std::string& name,
                     std::uint64_t size, const ProgressCallback& progress) override;
    RemoveResult remove(ContainerIndex& index, std::size_t row,
                        const ProgressCallback& progress) override;
    bool rename(ContainerIndex& index, std::size_t row, const std::string& name) override;
    bool unchanged() override;
    int lastError() const override { return lastError_; }

    bool changed() const { return vault_->changed(); }
    // The vault's own outcomes; the expected identity follows each.
    vault::Outcome commit();
    vault::Outcome discard();
    vault::Outcome changePassword(const std::string& password);
    bool wantsCompaction() const { return vault_->wantsCompaction(); }
    ReplaceResult compact(const std::filesystem::path& target, ReplaceGuard guard);
    vault::Vault& vault() { return *vault_; }

  private:
    const std::string* pathOf(std::size_t row) const;
    bool failedWith(vault::Outcome outcome);
    void expectCurrent();
    void showRows(ContainerIndex& index) const;

    std::unique_ptr<vault::Vault> vault_;
    std::vector<std::string> rows_;
    FileIdentity expected_;
    int lastError_ = 0;
};

} // namespace quorvane
