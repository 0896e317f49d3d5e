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
#include <optional>
#include <vector>

namespace quorvane {

class VaultContents final : public SafeContents {
  public:
    explicit VaultContents(std::unique_ptr<vault::Vault> vault);

    IndexReadResult list(ContainerIndex& index) override;
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

    bool keepsTree() const override { return true; }
    std::size_t namePartMost() const override;
    std::vector<ContentEntry> entries(const ContainerIndex& index) const override;
    std::optional<ContentEntry> entry(const ContainerIndex& index,
                                      const std::string& path) const override;
    std::int64_t readEntry(const ContainerIndex& index, const std::string& path,
                           std::uint64_t offset, void* into, std::size_t count) override;
    bool extractEntry(const ContainerIndex& index, const std::string& path, std::ostream& out,
                      const ProgressCallback& progress) override;
    AppendResult addEntry(ContainerIndex& index, RandomAccessFile& source, const std::string& path,
                          std::uint64_t size, const EntryStamp& stamp, OnExisting existing,
                          const ProgressCallback& progress) override;
    bool makeFolder(ContainerIndex& index, const std::string& path,
                    const EntryStamp& stamp) override;
    RemoveResult removeEntry(ContainerIndex& index, const std::string& path, FolderRemoval folder,
                             const ProgressCallback& progress) override;
    bool moveEntry(ContainerIndex& index, const std::string& from, const std::string& to,
                   OnExisting existing) override;
    bool setStamp(ContainerIndex& index, const std::string& path, const EntryStamp& stamp) override;

    bool changed() const { return vault_->changed(); }
    // The vault's own outcomes; the expected identity follows each.
    vault::StepResult commit();
    vault::StepResult discard();
    vault::StepResult changePassword(const std::string& password);
    bool wantsCompaction() const { return vault_->wantsCompaction(); }
    ReplaceResult compact(const std::filesystem::path& target, ReplaceGuard guard);
    vault::Vault& vault() { return *vault_; }

  private:
    const std::string* pathOf(std::size_t row) const;
    bool failedWith(vault::StepResult outcome);
    // As failedWith, naming a path that is too long as such.
    bool failedAt(vault::StepResult outcome, const std::string& path);
    bool extractPath(const std::string& path, std::ostream& out, const ProgressCallback& progress);
    // The rows of path and of everything below it: dropped, or moved to to.
    void dropRows(const std::string& path);
    void moveRows(const std::string& from, const std::string& to);
    // A name came into or left path's folder: the folder's time moves to now,
    // as on a disk. The top has no entry and keeps no time.
    void touchFolderOf(const std::string& path);
    void expectCurrent();
    void showRows(ContainerIndex& index) const;
    // After path was stored: only its row is made or updated when the index
    // shows the rows as they were, else every row is shown anew.
    void showStored(ContainerIndex& index, const std::string& path) const;
    // Whether index shows count rows of this vault (by their number only).
    bool showsRows(const ContainerIndex& index, std::size_t count) const;

    std::unique_ptr<vault::Vault> vault_;
    std::vector<std::string> rows_;
    FileIdentity expected_;
    int lastError_ = 0;
};

} // namespace quorvane
