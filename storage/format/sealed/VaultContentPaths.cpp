// A vault's contents spoken to by path: every entry with its kind, size and
// stamp, and the changes of the tree. The rows (the files, see
// VaultContents) follow each change.

#include "storage/format/sealed/VaultContents.h"
#include "storage/format/sealed/VaultLayout.h"
#include "storage/format/sealed/VaultRows.h"

#include <algorithm>
#include <cerrno>

namespace quorvane {
namespace {

bool isAtOrBelow(const std::string& path, const std::string& folder) {
    return path.compare(0, folder.size(), folder) == 0 &&
           (path.size() == folder.size() || path[folder.size()] == '/');
}

// Whether path is refused for its length rather than its bytes.
bool tooLong(const std::string& path) {
    if (path.size() > vault::PathMost)
        return true;
    std::size_t from = 0;
    for (std::size_t slash = path.find('/'); slash != std::string::npos;
         from = slash + 1, slash = path.find('/', from))
        if (slash - from > vault::NamePartMost)
            return true;
    return path.size() - from > vault::NamePartMost;
}

ContentEntry contentEntryOf(const vault::VaultEntry& entry) {
    const bool folder = entry.kind == vault::EntryKind::Folder;
    return {entry.path, folder ? ContentKind::Folder : ContentKind::File, entry.size,
            EntryStamp{entry.modifiedSeconds, entry.modifiedNanoseconds, entry.mode}};
}

} // namespace

bool VaultContents::failedAt(vault::StepResult outcome, const std::string& path) {
    if (!failedWith(outcome))
        return false;
    if (outcome == vault::StepResult::InvalidPath && tooLong(path))
        lastError_ = ENAMETOOLONG;
    return true;
}

std::size_t VaultContents::namePartMost() const {
    return vault::NamePartMost;
}

std::vector<ContentEntry> VaultContents::entries(const ContainerIndex&) const {
    std::vector<ContentEntry> all;
    all.reserve(vault_->entries().size());
    for (const auto& [path, entry] : vault_->entries())
        all.push_back(contentEntryOf(entry));
    return all;
}

std::optional<ContentEntry> VaultContents::entry(const ContainerIndex&,
                                                 const std::string& path) const {
    const vault::VaultEntry* found = vault_->find(path);
    if (found == nullptr)
        return std::nullopt;
    return contentEntryOf(*found);
}

std::int64_t VaultContents::readEntry(const ContainerIndex&, const std::string& path,
                                      std::uint64_t offset, void* into, std::size_t count) {
    std::size_t got = 0;
    const vault::VaultEntry* found = vault_->find(path);
    if (found != nullptr && found->kind == vault::EntryKind::Folder) {
        lastError_ = EISDIR;
        return -1;
    }
    if (failedWith(vault_->read(path, offset, into, count, got)))
        return -1;
    return static_cast<std::int64_t>(got);
}

bool VaultContents::extractEntry(const ContainerIndex&, const std::string& path, std::ostream& out,
                                 const ProgressCallback& progress) {
    return extractPath(path, out, progress);
}

AppendResult VaultContents::addEntry(ContainerIndex& index, RandomAccessFile& source,
                                     const std::string& path, std::uint64_t size,
                                     const EntryStamp& stamp, OnExisting existing,
                                     const ProgressCallback& progress) {
    if (!unchanged())
        return AppendResult::WriteFailed;
    const vault::VaultEntry* old = vault_->find(path);
    if (old != nullptr && old->kind == vault::EntryKind::Folder) {
        lastError_ = EISDIR;
        return AppendResult::WriteFailed;
    }
    const bool comes = old == nullptr;
    const bool replacing = !comes && existing == OnExisting::Replace;
    const vault::StepResult outcome = vault_->add(path, source, size, stamp, replacing, progress);
    expectCurrent();
    if (outcome == vault::StepResult::SourceFailed)
        return AppendResult::SourceUnreadable;
    if (failedAt(outcome, path))
        return outcome == vault::StepResult::TooLarge ? AppendResult::TooLarge
                                                      : AppendResult::WriteFailed;
    if (comes)
        touchFolderOf(path);
    if (!replacing)
        rows_.push_back(path);
    showStored(index, path);
    return AppendResult::Appended;
}

bool VaultContents::makeFolder(ContainerIndex& index, const std::string& path,
                               const EntryStamp& stamp) {
    if (!unchanged())
        return false;
    const vault::StepResult outcome = vault_->makeFolder(path, stamp);
    expectCurrent();
    if (failedAt(outcome, path))
        return false;
    touchFolderOf(path);
    // A folder is no row: rows in step stay as they are.
    if (!showsRows(index, rows_.size()))
        showRows(index);
    return true;
}

RemoveResult VaultContents::removeEntry(ContainerIndex& index, const std::string& path,
                                        FolderRemoval folder, const ProgressCallback&) {
    if (!unchanged())
        return RemoveResult::Failed;
    const vault::StepResult outcome = vault_->remove(path, folder == FolderRemoval::WithEverything);
    expectCurrent();
    if (failedWith(outcome))
        return RemoveResult::Failed;
    touchFolderOf(path);
    const std::size_t before = rows_.size();
    dropRows(path);
    // An empty folder held no row: rows in step stay as they are.
    if (rows_.size() != before || !showsRows(index, before))
        showRows(index);
    return RemoveResult::Removed;
}

bool VaultContents::moveEntry(ContainerIndex& index, const std::string& from, const std::string& to,
                              OnExisting existing) {
    if (!unchanged())
        return false;
    if (from == to && vault_->find(from) != nullptr)
        return true;
    const bool replace = existing == OnExisting::Replace;
    const vault::VaultEntry* moving = vault_->find(from);
    const bool file = moving != nullptr && moving->kind == vault::EntryKind::File;
    const bool inStep = showsRows(index, rows_.size());
    const vault::StepResult outcome = vault_->rename(from, to, replace);
    expectCurrent();
    if (failedAt(outcome, to))
        return false;
    touchFolderOf(from);
    touchFolderOf(to);
    if (!file || !inStep) {
        if (replace)
            dropRows(to);
        moveRows(from, to);
        showRows(index);
        return true;
    }
    // A file's move changes its row and drops the one it replaced: showing
    // every row anew made each save of an editor or rsync cost the whole safe.
    if (const auto replaced = std::find(rows_.begin(), rows_.end(), to); replaced != rows_.end()) {
        const auto row = static_cast<std::size_t>(replaced - rows_.begin());
        rows_.erase(replaced);
        dropShownRow(index, row, vault_->lengthInUse());
    }
    if (const auto moved = std::find(rows_.begin(), rows_.end(), from); moved != rows_.end()) {
        *moved = to;
        index.entryDetails[static_cast<std::size_t>(moved - rows_.begin())].name = to;
    }
    return true;
}

bool VaultContents::setStamp(ContainerIndex& index, const std::string& path,
                             const EntryStamp& stamp) {
    if (!unchanged())
        return false;
    const vault::StepResult outcome = vault_->setStamp(path, stamp);
    expectCurrent();
    if (failedWith(outcome))
        return false;
    // No row shows a stamp: an index in step with the rows stays as it is.
    if (!showsRows(index, rows_.size()))
        showRows(index);
    return true;
}

void VaultContents::dropRows(const std::string& path) {
    std::erase_if(rows_, [&](const std::string& row) { return isAtOrBelow(row, path); });
}

void VaultContents::moveRows(const std::string& from, const std::string& to) {
    for (std::string& row : rows_)
        if (isAtOrBelow(row, from))
            row.replace(0, from.size(), to);
}

} // namespace quorvane
