// The path-speaking side of SafeAccess: folders, moves, times and modes of a
// safe that keeps a tree.

#include "mount/SafeAccess.h"

#include "storage/format/SafeContents.h"

#include <cerrno>

namespace quorvane {

namespace {

int failureOf(SafeState& state) {
    const int error = contentsOf(state).lastError();
    return error > 0 ? -error : -EIO;
}

} // namespace

bool SafeAccess::keepsTree() const {
    return isSafeOpen(state_) && contentsOf(state_).keepsTree();
}

std::size_t SafeAccess::namePartMost() const {
    return contentsOf(state_).namePartMost();
}

std::optional<ContentEntry> SafeAccess::entryAt(const std::string& path) const {
    if (!isSafeOpen(state_))
        return std::nullopt;
    return contentsOf(state_).entry(state_, path);
}

std::vector<ContentEntry> SafeAccess::entries() const {
    if (!isSafeOpen(state_))
        return {};
    return contentsOf(state_).entries(state_);
}

int SafeAccess::makeFolder(const std::string& path, const EntryStamp& stamp) {
    if (readOnly())
        return -EROFS;
    return contentsOf(state_).makeFolder(state_, path, stamp) ? 0 : failureOf(state_);
}

int SafeAccess::removeFolder(const std::string& path) {
    if (readOnly())
        return -EROFS;
    const RemoveResult result =
        contentsOf(state_).removeEntry(state_, path, FolderRemoval::OnlyEmpty);
    return result == RemoveResult::Removed ? 0 : failureOf(state_);
}

int SafeAccess::move(const std::string& from, const std::string& to) {
    if (readOnly())
        return -EROFS;
    return contentsOf(state_).moveEntry(state_, from, to, OnExisting::Replace) ? 0
                                                                               : failureOf(state_);
}

int SafeAccess::setStamp(const std::string& path, const EntryStamp& stamp) {
    if (readOnly())
        return -EROFS;
    return contentsOf(state_).setStamp(state_, path, stamp) ? 0 : failureOf(state_);
}

} // namespace quorvane
