// The folder over a safe that keeps a tree: sub-folders, paths, long names,
// times and modes. Names are the entries' paths; a file not yet stored
// (pending) lives at its path too, inside a folder that exists.

#include "mount/SafeFolder.h"

#include "mount/SafeFolderPending.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <set>

namespace quorvane {

namespace {

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool isBelow(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == '/';
}

// The name inside folder under which path shows there, if it lies below it.
std::optional<std::string> partInside(const std::string& path, const std::string& folder) {
    const std::size_t start = folder.empty() ? 0 : folder.size() + 1;
    if (!folder.empty() && !isBelow(path, folder))
        return std::nullopt;
    const auto slash = path.find('/', start);
    return path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
}

EntryStamp stampNow(unsigned mode) {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now);
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(now - seconds);
    return {seconds.count(), static_cast<std::uint32_t>(nanoseconds.count()),
            static_cast<std::uint16_t>(mode & 0700)};
}

} // namespace

int SafeFolder::checkTreeName(const std::string& name) {
    std::size_t start = 0;
    for (;;) {
        const auto slash = name.find('/', start);
        const std::size_t length = (slash == std::string::npos ? name.size() : slash) - start;
        if (length > access_.namePartMost())
            return -ENAMETOOLONG;
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    const std::string folder = folderOf(name);
    if (folder.empty())
        return 0;
    const auto found = access_.entryAt(folder);
    if (!found)
        return -ENOENT;
    return found->kind == ContentKind::Folder ? 0 : -ENOTDIR;
}

int SafeFolder::treeStatus(const std::string& name, Status& status) {
    const auto pending = pending_.find(name);
    const std::optional<ContentEntry> stored = access_.entryAt(name);
    if (pending == pending_.end() && !stored)
        return -ENOENT;
    if (stored && stored->kind == ContentKind::Folder) {
        status.folder = true;
        status.mode = stored->stamp.mode;
        status.modified = static_cast<std::time_t>(stored->stamp.modifiedSeconds);
        status.modifiedNanoseconds = stored->stamp.modifiedNanoseconds;
        return 0;
    }
    EntryStamp stamp = stored ? stored->stamp : stampNow(0600);
    if (pending != pending_.end()) {
        const Pending& file = *pending->second;
        status.size = file.loaded ? file.staged->length() : stored ? stored->size : 0;
        if (file.stamp)
            stamp = *file.stamp;
        else if (file.dirty)
            stamp = stampNow(stamp.mode);
    } else {
        status.size = stored->size;
    }
    status.mode = stamp.mode;
    status.modified = static_cast<std::time_t>(stamp.modifiedSeconds);
    status.modifiedNanoseconds = stamp.modifiedNanoseconds;
    return 0;
}

// Every stored path, sorted, kept until the entries change: a folder's
// listing then looks only at the paths below it.
const std::set<std::string>& SafeFolder::treePaths() {
    refreshNames();
    if (!treePaths_) {
        treePaths_.emplace();
        for (const ContentEntry& entry : access_.entries())
            treePaths_->insert(entry.path);
    }
    return *treePaths_;
}

std::vector<std::string> SafeFolder::namesIn(const std::string& folder) {
    std::set<std::string> names;
    const std::set<std::string>& paths = treePaths();
    const std::string prefix = folder.empty() ? std::string() : folder + "/";
    for (auto at = paths.lower_bound(prefix); at != paths.end() && at->starts_with(prefix); ++at)
        if (const auto part = partInside(*at, folder))
            names.insert(*part);
    for (const auto& [name, pending] : pending_)
        if (const auto part = partInside(name, folder))
            names.insert(*part);
    return {names.begin(), names.end()};
}

std::vector<std::string> SafeFolder::allNames() {
    if (!keepsTree())
        return names();
    std::vector<std::string> all;
    for (const ContentEntry& entry : access_.entries())
        all.push_back(entry.path);
    for (const auto& [name, pending] : pending_)
        all.push_back(name);
    return all;
}

// One step: the new content takes the path, replacing the old entry there.
int SafeFolder::treeCommit(Pending& pending) {
    const std::string name = *pending.name;
    const std::optional<ContentEntry> old = access_.entryAt(name);
    EntryStamp stamp = pending.stamp.value_or(stampNow(old ? old->stamp.mode : 0600));
    if (const int stored = access_.storeAt(*pending.staged, name, stamp); stored < 0)
        return stored;
    pending.dirty = false;
    pending.stamp.reset();
    noteChange(name);
    // A replaced file keeps its name and row; a new one is the last row.
    if (!old)
        keepNewName(name);
    return 0;
}

int SafeFolder::makeFolder(const std::string& path, unsigned mode) {
    if (!keepsTree())
        return -EPERM;
    if (!writable())
        return -EROFS;
    if (exists(path) || access_.entryAt(path))
        return -EEXIST;
    if (const int refused = checkTreeName(path); refused < 0)
        return refused;
    if (entriesHeld_)
        return -EBUSY;
    if (const int made = access_.makeFolder(path, stampNow(mode)); made < 0)
        return made;
    // A folder is no row: only the paths gain it.
    if (treePaths_)
        treePaths_->insert(path);
    noteChange(path);
    touchFolderOf(path);
    return 0;
}

int SafeFolder::removeFolder(const std::string& path) {
    const std::optional<ContentEntry> found = access_.entryAt(path);
    if (!found)
        return -ENOENT;
    if (found->kind != ContentKind::Folder)
        return -ENOTDIR;
    for (const auto& [name, pending] : pending_)
        if (isBelow(name, path))
            return -ENOTEMPTY;
    if (!writable())
        return -EROFS;
    if (entriesHeld_)
        return -EBUSY;
    if (const int removed = access_.removeFolder(path); removed < 0)
        return removed;
    // Only an empty folder goes (rmdir): no row went with it.
    if (treePaths_)
        treePaths_->erase(path);
    noteChange(path);
    touchFolderOf(path);
    return 0;
}

// Pending files at from, or below it when it is a folder, go along to to.
void SafeFolder::movePending(const std::string& from, const std::string& to) {
    std::vector<std::string> moving;
    for (const auto& [name, pending] : pending_)
        if (name == from || isBelow(name, from))
            moving.push_back(name);
    for (const std::string& name : moving) {
        std::shared_ptr<Pending> pending = pending_[name];
        pending_.erase(name);
        const std::string moved = to + name.substr(from.size());
        pending->name = moved;
        pending_[moved] = pending;
    }
    for (Handle* handle : live_)
        if (handle->name == from || isBelow(handle->name, from))
            handle->name = to + handle->name.substr(from.size());
}

int SafeFolder::treeRename(const std::string& from, const std::string& to) {
    const std::optional<ContentEntry> stored = access_.entryAt(from);
    // A file's rename changes its one name (and drops the one it replaces);
    // a folder's changes every name below it, worked out anew.
    bool namesKept = true;
    if (stored) {
        const bool file = stored->kind == ContentKind::File;
        constexpr std::size_t NoRow = SIZE_MAX;
        const std::size_t fromRow = file ? rowOf(from).value_or(NoRow) : NoRow;
        const std::size_t toRow = file ? rowOf(to).value_or(NoRow) : NoRow;
        if (const int moved = access_.move(from, to); moved < 0)
            return moved;
        namesKept = fromRow != NoRow && (toRow == NoRow || dropRowName(toRow)) &&
                    renameRowName(fromRow - (toRow < fromRow ? 1 : 0), from, to);
    } else if (const std::optional<ContentEntry> target = access_.entryAt(to)) {
        // A file only the folder has yet takes the place of a stored one.
        if (target->kind == ContentKind::Folder)
            return -EISDIR;
        if (const auto row = rowOf(to)) {
            if (const int removed = access_.remove(*row); removed < 0)
                return removed;
            namesKept = dropRowName(*row);
        }
    }
    if (const auto replaced = pending_.find(to); replaced != pending_.end()) {
        replaced->second->name.reset();
        pending_.erase(replaced);
    }
    movePending(from, to);
    if (!namesKept)
        forgetNames();
    noteChange(to);
    touchFolderOf(from);
    if (folderOf(to) != folderOf(from))
        touchFolderOf(to);
    return 0;
}

// As on any disk, so that ls -l, rsync and make see that a folder changed;
// stored as a file's time is. While the window holds the entries (a guest
// turn) only a new file can come, and its folder keeps its time.
void SafeFolder::touchFolderOf(const std::string& path) {
    const std::string folder = folderOf(path);
    EntryStamp stamp = stampNow(0);
    if (folder.empty()) {
        topModified_.store(stamp.modifiedSeconds * 1'000'000'000 + stamp.modifiedNanoseconds);
        return;
    }
    const std::optional<ContentEntry> found = access_.entryAt(folder);
    if (entriesHeld_ || !found || found->kind != ContentKind::Folder)
        return;
    stamp.mode = found->stamp.mode;
    if (access_.setStamp(folder, stamp) == 0)
        noteChange(folder);
}

int SafeFolder::setStamp(const std::string& path, const Handle* handle,
                         const std::optional<std::pair<std::time_t, long>>& modified,
                         const std::optional<unsigned>& mode) {
    if (!keepsTree())
        return 0; // a flat safe keeps no time nor mode: accepted, as before
    const std::string name = handle != nullptr ? handle->name : path;
    if (name.empty()) { // the top: its time is kept while mounted, it has no mode of its own
        if (!writable())
            return -EROFS;
        if (modified)
            topModified_.store(std::int64_t{modified->first} * 1'000'000'000 + modified->second);
        return 0;
    }
    Status now;
    if (const int missing = treeStatus(name, now); missing < 0)
        return missing;
    if (!writable())
        return -EROFS;
    EntryStamp stamp{now.modified, static_cast<std::uint32_t>(now.modifiedNanoseconds),
                     static_cast<std::uint16_t>(now.mode & 0700)};
    if (modified) {
        stamp.modifiedSeconds = modified->first;
        stamp.modifiedNanoseconds = static_cast<std::uint32_t>(modified->second);
    }
    if (mode)
        stamp.mode = static_cast<std::uint16_t>(*mode & 0700);
    // A file not stored yet keeps it until it is.
    if (const auto pending = pending_.find(name);
        pending != pending_.end() && (pending->second->dirty || !access_.entryAt(name))) {
        pending->second->stamp = stamp;
        return 0;
    }
    if (entriesHeld_)
        return -EBUSY;
    if (const int set = access_.setStamp(name, stamp); set < 0)
        return set;
    noteChange(name);
    return 0;
}

} // namespace quorvane
