// The names the folder shows, and which entry each stands for.

#include "mount/SafeFolder.h"

#include "mount/FolderNames.h"

#include <algorithm>
#include <unordered_set>

namespace quorvane {

// The window may change the entries between two calls, so the names are
// checked against the stored ones every time. Only a change from outside
// has them worked out anew, as extracting all names them; the folder's own
// changes keep each name on the entry it stood for (see keepNames).
void SafeFolder::refreshNames() {
    const std::size_t count = access_.entryCount();
    bool same = namesKnown_ && storedNames_.size() == count;
    for (std::size_t row = 0; same && row < count; ++row)
        same = storedNames_[row] == access_.storedName(row);
    if (same)
        return;
    storedNames_.clear();
    for (std::size_t row = 0; row < count; ++row)
        storedNames_.push_back(access_.storedName(row));
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
    if (shownOfRow.size() != count) {
        namesKnown_ = false; // not what was expected: worked out anew
        refreshNames();
        return;
    }
    storedNames_.clear();
    for (std::size_t row = 0; row < count; ++row)
        storedNames_.push_back(access_.storedName(row));
    shownOfRow_ = std::move(shownOfRow);
    indexShownNames();
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

} // namespace quorvane
