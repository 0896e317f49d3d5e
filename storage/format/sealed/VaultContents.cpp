#include "storage/format/sealed/VaultContents.h"

#include "storage/format/sealed/VaultRows.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <vector>

#include <sys/stat.h>

namespace quorvane {

namespace {

vault::EntryStamp stampNow() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now);
    vault::EntryStamp stamp;
    stamp.modifiedSeconds = seconds.count();
    stamp.modifiedNanoseconds = static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(now - seconds).count());
    return stamp;
}

// Whether nothing was written into the file since expected was taken: the
// same file, size, modification and change times. Metadata is not compared.
bool sameWrites(const struct stat& now, const FileIdentity& expected) {
    return now.st_dev == expected.device && now.st_ino == expected.inode &&
           static_cast<std::uint64_t>(now.st_size) == expected.size &&
           now.st_mtim.tv_sec == expected.modifiedSeconds &&
           now.st_mtim.tv_nsec == expected.modifiedNanoseconds &&
           now.st_ctim.tv_sec == expected.changedSeconds &&
           now.st_ctim.tv_nsec == expected.changedNanoseconds;
}

} // namespace

VaultContents::VaultContents(std::unique_ptr<vault::Vault> vault) : vault_(std::move(vault)) {
    for (const auto& [path, entry] : vault_->entries())
        if (entry.kind == vault::EntryKind::File)
            rows_.push_back(path);
    expectCurrent();
}

// Only a change of the names moves a folder's time, whoever makes it (the
// window, the tool, the open folder), so that extract, rsync and make see
// which folders changed; the stamp is set in memory and committed with the
// change.
void VaultContents::touchFolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return;
    const std::string folder = path.substr(0, slash);
    const vault::VaultEntry* found = vault_->find(folder);
    if (found == nullptr || found->kind != vault::EntryKind::Folder)
        return;
    vault::EntryStamp stamp = stampNow();
    stamp.mode = found->mode;
    vault_->setStamp(folder, stamp);
}

void VaultContents::expectCurrent() {
    if (const auto identity = identityOf(vault_->fd()))
        expected_ = *identity;
}

// Asked before every read and change, and by the folder after every
// request: one fstat answers while the change time stands still. Only when
// it moved are the file's metadata listed (a readlink and its attributes),
// to tell a chmod or mv, which changes no byte, from a write.
bool VaultContents::unchanged() {
    struct stat now {};
    if (::fstat(vault_->fd(), &now) == 0 && sameWrites(now, expected_))
        return true;
    const auto identity = identityOf(vault_->fd());
    if (identity && *identity == expected_) {
        // A change of metadata only: the state to compare with from now on.
        expected_ = *identity;
        return true;
    }
    lastError_ = SafeChangedInPlace;
    return false;
}

bool VaultContents::failedWith(vault::StepResult outcome) {
    using vault::StepResult;
    switch (outcome) {
    case StepResult::Done:
        lastError_ = 0;
        return false;
    case StepResult::Damaged:
        lastError_ = ContentDamaged;
        break;
    case StepResult::ReadFailed:
    case StepResult::WriteFailed:
        lastError_ = vault_->lastError() != 0 ? vault_->lastError() : EIO;
        break;
    case StepResult::NotFound:
        lastError_ = ENOENT;
        break;
    case StepResult::Exists:
        lastError_ = EEXIST;
        break;
    case StepResult::ReadOnly:
        lastError_ = EROFS;
        break;
    case StepResult::TooLarge:
        lastError_ = EFBIG;
        break;
    case StepResult::NoFolder:
        lastError_ = ENOENT;
        break;
    case StepResult::NotEmpty:
        lastError_ = ENOTEMPTY;
        break;
    case StepResult::IsFolder:
        lastError_ = EISDIR;
        break;
    case StepResult::NotFolder:
        lastError_ = ENOTDIR;
        break;
    default:
        lastError_ = EINVAL;
        break;
    }
    return true;
}

const std::string* VaultContents::pathOf(std::size_t row) const {
    return row < rows_.size() ? &rows_[row] : nullptr;
}

void VaultContents::showRows(ContainerIndex& index) const {
    index = ContainerIndex{};
    index.formatVersion = ContainerVersion;
    index.entryCount = static_cast<std::uint32_t>(rows_.size());
    index.workingCopyLength = vault_->lengthInUse();
    for (std::size_t row = 0; row < rows_.size(); ++row) {
        const vault::VaultEntry* entry = vault_->find(rows_[row]);
        index.indexRows.push_back({static_cast<std::uint32_t>(row + 1), 0});
        // The list's size column is 32 bits wide, as the container's.
        index.entryDetails.push_back(
            {static_cast<std::uint32_t>(entry != nullptr ? entry->size : 0), rows_[row]});
    }
}

bool VaultContents::showsRows(const ContainerIndex& index, std::size_t count) const {
    return index.formatVersion == ContainerVersion && index.entryCount == count &&
           index.indexRows.size() == count && index.entryDetails.size() == count &&
           index.workingCopyLength == vault_->lengthInUse();
}

// Showing every row anew at each store made filling a folder quadratic.
void VaultContents::showStored(ContainerIndex& index, const std::string& path) const {
    const vault::VaultEntry* entry = vault_->find(path);
    const std::size_t shown = index.entryDetails.size();
    const bool consistent = showsRows(index, shown);
    const bool added = consistent && shown + 1 == rows_.size() && rows_.back() == path &&
                       (shown == 0 || index.entryDetails.back().name == rows_[shown - 1]);
    // A replaced file keeps its row; it is most often one of the last stored.
    const auto replaced = std::find(rows_.rbegin(), rows_.rend(), path);
    const bool kept =
        consistent && !added && shown == rows_.size() && replaced != rows_.rend() &&
        index.entryDetails[static_cast<std::size_t>(rows_.rend() - replaced) - 1].name == path;
    if (entry == nullptr || (!added && !kept)) {
        showRows(index);
        return;
    }
    index.workingCopyLength = vault_->lengthInUse();
    // The list's size column is 32 bits wide, as the container's.
    const auto size = static_cast<std::uint32_t>(entry->size);
    if (kept) {
        index.entryDetails[static_cast<std::size_t>(rows_.rend() - replaced) - 1].size = size;
        return;
    }
    index.indexRows.push_back({static_cast<std::uint32_t>(rows_.size()), 0});
    index.entryDetails.push_back({size, path});
    index.entryCount = static_cast<std::uint32_t>(rows_.size());
}

IndexReadResult VaultContents::list(ContainerIndex& index) {
    showRows(index);
    return {};
}

std::int64_t VaultContents::read(const ContainerIndex&, std::size_t row, std::uint64_t offset,
                                 void* into, std::size_t count) {
    const std::string* path = pathOf(row);
    if (path == nullptr)
        return 0;
    std::size_t got = 0;
    if (failedWith(vault_->read(*path, offset, into, count, got)))
        return -1;
    return static_cast<std::int64_t>(got);
}

bool VaultContents::extract(const ContainerIndex&, std::size_t row, std::ostream& out,
                            const ProgressCallback& progress) {
    const std::string* path = pathOf(row);
    return path != nullptr && extractPath(*path, out, progress);
}

bool VaultContents::extractPath(const std::string& path, std::ostream& out,
                                const ProgressCallback& progress) {
    const vault::VaultEntry* entry = vault_->find(path);
    if (entry == nullptr || entry->kind != vault::EntryKind::File) {
        lastError_ = entry == nullptr ? ENOENT : EISDIR;
        return false;
    }
    std::vector<char> block(StreamBlockSize);
    for (std::uint64_t done = 0; done < entry->size;) {
        std::size_t got = 0;
        if (failedWith(vault_->read(path, done, block.data(), block.size(), got)) || got == 0)
            return false;
        if (!out.write(block.data(), static_cast<std::streamsize>(got)))
            return false;
        done += got;
        reportProgress(progress, done, entry->size);
    }
    return static_cast<bool>(out);
}

std::uint64_t VaultContents::room(const ContainerIndex&) const {
    // Every size fits; the file system says when the disk does not.
    return UINT64_MAX;
}

AppendResult VaultContents::add(ContainerIndex& index, RandomAccessFile& source,
                                const std::string& name, std::uint64_t size,
                                const ProgressCallback& progress) {
    return addEntry(index, source, name, size, stampNow(), OnExisting::Refuse, progress);
}

RemoveResult VaultContents::remove(ContainerIndex& index, std::size_t row,
                                   const ProgressCallback&) {
    const std::string* path = pathOf(row);
    if (path == nullptr || !unchanged())
        return RemoveResult::Failed;
    const vault::StepResult outcome = vault_->remove(*path);
    expectCurrent();
    if (failedWith(outcome))
        return RemoveResult::Failed;
    touchFolderOf(*path);
    const bool inStep = showsRows(index, rows_.size());
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(row));
    if (inStep)
        dropShownRow(index, row, vault_->lengthInUse());
    else
        showRows(index);
    return RemoveResult::Removed;
}

bool VaultContents::rename(ContainerIndex& index, std::size_t row, const std::string& name) {
    const std::string* path = pathOf(row);
    if (path == nullptr || !unchanged())
        return false;
    if (*path == name)
        return true;
    const vault::StepResult outcome = vault_->rename(*path, name);
    expectCurrent();
    if (failedWith(outcome))
        return false;
    touchFolderOf(*path);
    touchFolderOf(name);
    rows_[row] = name;
    showRows(index);
    return true;
}

vault::StepResult VaultContents::commit() {
    if (!unchanged())
        return vault::StepResult::ReadOnly;
    const vault::StepResult outcome = vault_->commit();
    expectCurrent();
    failedWith(outcome);
    return outcome;
}

vault::StepResult VaultContents::discard() {
    const vault::StepResult outcome = vault_->discard();
    expectCurrent();
    failedWith(outcome);
    return outcome;
}

vault::StepResult VaultContents::changePassword(const std::string& password) {
    if (!unchanged())
        return vault::StepResult::ReadOnly;
    const vault::StepResult outcome = vault_->changePassword(password);
    expectCurrent();
    failedWith(outcome);
    return outcome;
}

ReplaceResult VaultContents::compact(const std::filesystem::path& target, ReplaceGuard guard) {
    ReplaceResult result = vault_->compact(target, std::move(guard));
    expectCurrent();
    return result;
}

} // namespace quorvane
