// The names the folder shows, and which entry each stands for.

#include "mount/SafeFolder.h"

#include "mount/FolderNames.h"
#include "mount/SafeFolderPending.h"

#include <algorithm>
#include <cerrno>
#include <linux/fs.h>
#include <unordered_set>

namespace quorvane {

// The window may change the entries between two calls, so the names are
// checked against the stored ones every time. Only a change from outside
// has them worked out anew, as extracting all names them; the folder's own
// changes keep each name on the entry it stood for (see keepNames).
void SafeFolder::refreshNames() {
    if (namesStale_.exchange(false))
        forgetNames();
    const std::size_t count = access_.entryCount();
    // A tree's names change only through the folder, which forgets them, or
    // through the window, which says so (forgetNames): comparing every
    // stored name at every request would cost more than the request.
    if (keepsTree() && namesKnown_ && storedNames_.size() == count)
        return;
    bool same = namesKnown_ && storedNames_.size() == count;
    for (std::size_t row = 0; same && row < count; ++row)
        same = storedNames_[row] == access_.storedName(row);
    if (same)
        return;
    storedNames_.clear();
    for (std::size_t row = 0; row < count; ++row)
        storedNames_.push_back(access_.storedName(row));
    // A tree's paths are unique and are the names themselves.
    if (keepsTree())
        shownOfRow_.assign(storedNames_.begin(), storedNames_.end());
    else
        shownOfRow_ = folderNames(storedNames_);
    indexShownNames();
}

void SafeFolder::indexShownNames() {
    rows_.clear();
    shown_.clear();
    for (std::size_t row = 0; row < shownOfRow_.size(); ++row) {
        if (!shownOfRow_[row])
            continue;
        rows_.emplace(*shownOfRow_[row], row);
        shown_.push_back(*shownOfRow_[row]);
    }
    namesKnown_ = true;
}

// After a change of the folder's own: the shown names as they now stand
// (one per row), with the stored names taken as they now are.
void SafeFolder::keepNames(std::vector<std::optional<std::string>> shownOfRow) {
    const std::size_t count = access_.entryCount();
    if (shownOfRow.size() != count || keepsTree()) {
        forgetNames(); // not what was expected: worked out anew
        refreshNames();
        return;
    }
    storedNames_.clear();
    for (std::size_t row = 0; row < count; ++row)
        storedNames_.push_back(access_.storedName(row));
    shownOfRow_ = std::move(shownOfRow);
    indexShownNames();
}

// Working the names out anew from every entry made each store cost the
// whole folder; the new entry is the last row, so it is simply added.
void SafeFolder::keepNewName(const std::string& path) {
    const std::size_t count = access_.entryCount();
    if (!namesKnown_ || namesStale_ || storedNames_.size() + 1 != count ||
        access_.storedName(count - 1) != path) {
        forgetNames();
        return;
    }
    storedNames_.push_back(path);
    shownOfRow_.emplace_back(path);
    rows_.emplace(path, count - 1);
    shown_.push_back(path);
    if (treePaths_)
        treePaths_->insert(path);
}

// Working the names out anew at each removal made emptying a folder of
// thousands of files quadratic; a tree's names are its paths, so the
// removed one simply goes and the later rows move up.
bool SafeFolder::dropRowName(std::size_t row) {
    if (!namesKnown_ || namesStale_ || row >= storedNames_.size() ||
        storedNames_.size() != access_.entryCount() + 1) {
        forgetNames();
        return false;
    }
    const std::string name = storedNames_[row];
    storedNames_.erase(storedNames_.begin() + static_cast<std::ptrdiff_t>(row));
    shownOfRow_.erase(shownOfRow_.begin() + static_cast<std::ptrdiff_t>(row));
    rows_.erase(name);
    for (auto& [shown, at] : rows_)
        if (at > row)
            --at;
    std::erase(shown_, name);
    if (treePaths_)
        treePaths_->erase(name);
    return true;
}

bool SafeFolder::renameRowName(std::size_t row, const std::string& from, const std::string& to) {
    if (!namesKnown_ || namesStale_ || row >= storedNames_.size() ||
        storedNames_.size() != access_.entryCount() || storedNames_[row] != from ||
        access_.storedName(row) != to) {
        forgetNames();
        return false;
    }
    storedNames_[row] = to;
    shownOfRow_[row] = to;
    rows_.erase(from);
    rows_[to] = row;
    std::replace(shown_.begin(), shown_.end(), from, to);
    if (treePaths_) {
        treePaths_->erase(from);
        treePaths_->insert(to);
    }
    return true;
}

std::optional<std::string> SafeFolder::shownNameOf(std::size_t row) {
    refreshNames();
    return row < shownOfRow_.size() ? shownOfRow_[row] : std::nullopt;
}

std::optional<std::size_t> SafeFolder::rowOf(const std::string& name) {
    refreshNames();
    const auto found = rows_.find(name);
    if (found == rows_.end())
        return std::nullopt;
    return found->second;
}

bool SafeFolder::exists(const std::string& name) {
    return pending_.count(name) != 0 || rowOf(name).has_value();
}

std::vector<std::string> SafeFolder::names() {
    if (keepsTree())
        return namesIn("");
    refreshNames();
    std::vector<std::string> names = shown_;
    for (const auto& [name, pending] : pending_)
        if (rows_.count(name) == 0)
            names.push_back(name);
    return names;
}

std::string SafeFolder::freeNumberedName(const std::string& name,
                                         const std::vector<std::optional<std::string>>& shown) {
    std::unordered_set<std::string> taken;
    for (const auto& one : shown)
        if (one)
            taken.insert(*one);
    for (const auto& [pendingName, pending] : pending_)
        taken.insert(pendingName);
    std::string candidate;
    for (int number = 2; candidate.empty() || taken.count(candidate) != 0; ++number)
        candidate = folderNumberedName(name, number);
    return candidate;
}

int SafeFolder::checkNewName(const std::string& name) const {
    return name.size() > FolderNameLimit ? -ENAMETOOLONG : 0;
}

bool SafeFolder::isOpen(const std::string& name) const {
    return std::any_of(live_.begin(), live_.end(),
                       [&](const Handle* handle) { return handle->name == name; });
}

int SafeFolder::rename(const std::string& from, const std::string& to, unsigned flags) {
    if ((flags & RENAME_EXCHANGE) != 0)
        return -EINVAL;
    if (keepsTree()) {
        const bool fromThere = exists(from) || access_.entryAt(from).has_value();
        if (!fromThere)
            return -ENOENT;
        if (const int refused = checkTreeName(to); refused < 0)
            return refused;
        if (!writable())
            return -EROFS;
        if ((flags & RENAME_NOREPLACE) != 0 && (exists(to) || access_.entryAt(to)))
            return -EEXIST;
        if (from == to)
            return 0;
        if (entriesHeld_)
            return -EBUSY;
        return treeRename(from, to);
    }
    if (!exists(from))
        return -ENOENT;
    if (const int refused = checkNewName(to); refused < 0)
        return refused;
    if (!writable())
        return -EROFS;
    if ((flags & RENAME_NOREPLACE) != 0 && exists(to))
        return -EEXIST;
    if (from == to)
        return 0;
    if (entriesHeld_)
        return -EBUSY;
    const auto fromRow = rowOf(from);
    const auto toRow = rowOf(to);
    const std::string storedFrom = fromRow ? access_.storedName(*fromRow) : std::string();
    // The entry takes its new name first: should the removal of the one it
    // replaces fail, both are still there.
    std::vector<std::optional<std::string>> shown = shownOfRow_;
    // A vault takes no second entry of a name: the moved one waits under a
    // free name until the one it replaces is gone.
    const bool moveNameLater = fromRow && toRow && access_.namesAreUnique();
    if (fromRow) {
        const std::string first = moveNameLater ? access_.freeStoredName(to) : to;
        if (const int renamed = access_.rename(*fromRow, first); renamed < 0)
            return renamed;
        shown[*fromRow] = to;
    }
    if (toRow) {
        if (const int removed = access_.remove(*toRow); removed < 0) {
            // The replaced entry stays; the moved one takes its old name
            // back, so that the failed rename changed nothing.
            if (fromRow)
                access_.rename(*fromRow, storedFrom);
            return removed;
        }
        shown.erase(shown.begin() + static_cast<std::ptrdiff_t>(*toRow));
    }
    if (moveNameLater) {
        const std::size_t movedRow = *fromRow > *toRow ? *fromRow - 1 : *fromRow;
        if (const int renamed = access_.rename(movedRow, to); renamed < 0) {
            keepNames(std::move(shown));
            return renamed;
        }
    }
    if (fromRow || toRow)
        keepNames(std::move(shown));
    if (const auto replaced = pending_.find(to); replaced != pending_.end()) {
        replaced->second->name.reset();
        pending_.erase(replaced);
    }
    if (const auto moved = pending_.find(from); moved != pending_.end()) {
        std::shared_ptr<Pending> pending = moved->second;
        pending_.erase(moved);
        pending->name = to;
        pending_[to] = pending;
    }
    modified_.erase(from);
    noteChange(to);
    return 0;
}

} // namespace quorvane
