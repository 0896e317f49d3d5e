#include "mount/SafeFolder.h"

#include "mount/FolderNames.h"
#include "mount/SafeFolderPending.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <utility>

namespace quorvane {

SafeFolder::SafeFolder(SafeAccess& access, bool mountedReadOnly)
    : access_(access), mountedReadOnly_(mountedReadOnly), mountedAt_(std::time(nullptr)),
      topModified_(std::int64_t{mountedAt_} * 1'000'000'000) {}

// A folder closed while programs still had files open in it (closed anyway)
// gives their handles up here: the kernel sends no release for them any more.
SafeFolder::~SafeFolder() {
    for (Handle* handle : live_)
        delete handle;
}

bool SafeFolder::writable() const {
    return !mountedReadOnly_ && !access_.readOnly();
}

int SafeFolder::status(const std::string& name, Status& status) {
    if (keepsTree())
        return treeStatus(name, status);
    const auto row = rowOf(name);
    const auto pending = pending_.find(name);
    if (pending != pending_.end() && pending->second->loaded)
        status.size = pending->second->staged->length();
    else if (row)
        status.size = access_.entrySize(*row);
    else if (pending != pending_.end())
        status.size = 0;
    else
        return -ENOENT;
    const auto modified = modified_.find(name);
    status.modified = modified == modified_.end() ? mountedAt_ : modified->second;
    return 0;
}

std::shared_ptr<SafeFolder::Pending> SafeFolder::pendingOf(const std::string& name) {
    auto& pending = pending_[name];
    if (!pending) {
        pending = std::make_shared<Pending>();
        pending->name = name;
    }
    return pending;
}

int SafeFolder::load(Pending& pending) {
    if (pending.loaded)
        return 0;
    int error = 0;
    std::unique_ptr<StagedFile> staged = access_.stage(error);
    if (!staged)
        return -error;
    if (pending.name) {
        if (const auto row = rowOf(*pending.name)) {
            if (const int copied = access_.copyEntry(*row, *staged); copied < 0)
                return copied;
        }
    }
    pending.staged = std::move(staged);
    pending.loaded = true;
    return 0;
}

// The file becomes a new entry under the name its old entry has stored (a
// second "report.txt" shown as "report (2).txt" stays a "report.txt"), and
// the shown name moves to the new entry with it: the name stands for that
// document, wherever it now lies in the list.
int SafeFolder::commit(Pending& pending) {
    if (!pending.dirty || !pending.name)
        return 0;
    if (!writable())
        return -EROFS;
    // Kept as it is, and stored once the entries may change again.
    if (entriesHeld_) {
        storesDeferred_ = true;
        return 0;
    }
    if (const int loaded = load(pending); loaded < 0)
        return loaded;
    if (keepsTree())
        return treeCommit(pending);
    const std::string name = *pending.name;
    const auto old = rowOf(name);
    const std::string storedName = old ? access_.storedName(*old) : name;
    const bool moveNameLater = old && access_.namesAreUnique();
    const std::string storeAs = moveNameLater ? access_.freeStoredName(storedName) : storedName;
    if (const int stored = access_.store(*pending.staged, storeAs); stored < 0)
        return stored;
    pending.dirty = false;
    noteChange(name);
    std::vector<std::optional<std::string>> shown = shownOfRow_;
    shown.emplace_back(name);
    if (!old) {
        keepNames(std::move(shown));
        return 0;
    }
    // The new entry is the last; the old one lies before it.
    shown[*old].reset();
    const int removed = access_.remove(*old);
    if (removed == 0)
        shown.erase(shown.begin() + static_cast<std::ptrdiff_t>(*old));
    else
        shown[*old] = freeNumberedName(name, shown); // kept, and reachable
    keepNames(std::move(shown));
    // The old entry gone, the new one takes its name; should that fail, the
    // folder still shows it under the name it was saved as.
    if (removed == 0 && moveNameLater)
        return access_.rename(access_.entryCount() - 1, storedName);
    return removed;
}

void SafeFolder::forget(const std::shared_ptr<Pending>& pending) {
    if (pending->name) {
        const auto found = pending_.find(*pending->name);
        if (found != pending_.end() && found->second == pending)
            pending_.erase(found);
    }
}

void SafeFolder::noteChange(const std::string& name) {
    modified_[name] = std::time(nullptr);
    noteUnsaved();
    changed_ = true;
    ++changeCount_;
}

int SafeFolder::open(const std::string& name, int flags, bool create, Handle*& handle) {
    const bool wantsWrite = (flags & O_ACCMODE) != O_RDONLY;
    const bool known = exists(name);
    if (!known && !create)
        return -ENOENT;
    if (known && create && (flags & O_EXCL) != 0)
        return -EEXIST;
    if (!known) {
        if (const int refused = keepsTree() ? checkTreeName(name) : checkNewName(name); refused < 0)
            return refused;
    }
    if ((wantsWrite || !known) && !writable())
        return -EROFS;

    std::shared_ptr<Pending> pending;
    const bool wasPending = pending_.count(name) != 0;
    if (wantsWrite || !known || wasPending)
        pending = pendingOf(name);
    if (!known || (wantsWrite && (flags & O_TRUNC) != 0)) {
        int failed = load(*pending);
        if (failed == 0 && pending->staged->length() != 0)
            failed = pending->staged->resize(0);
        if (failed < 0) {
            if (!wasPending)
                forget(pending);
            return failed;
        }
        // A new or emptied file is a change even if nothing is written to it.
        pending->dirty = true;
        noteWrite();
        if (!known && keepsTree())
            touchFolderOf(name);
    }
    handle = new Handle{pending, name, wantsWrite};
    live_.insert(handle);
    if (pending) {
        ++pending->handles;
        if (wantsWrite)
            ++pending->writers;
    }
    ++handles_;
    return 0;
}

std::int64_t SafeFolder::read(Handle& handle, std::uint64_t offset, char* into, std::size_t count) {
    Pending* pending = handle.pending.get();
    if (pending == nullptr) {
        const auto found = pending_.find(handle.name);
        if (found != pending_.end())
            pending = found->second.get();
    }
    if (pending != nullptr && pending->loaded)
        return pending->staged->read(offset, into, count);
    const std::optional<std::string> name = pending != nullptr ? pending->name : handle.name;
    const auto row = name ? rowOf(*name) : std::nullopt;
    if (!row)
        return pending != nullptr ? 0 : -ENOENT;
    return access_.read(*row, offset, into, count);
}

std::int64_t SafeFolder::write(Handle& handle, std::uint64_t offset, const char* from,
                               std::size_t count) {
    if (!handle.writer)
        return -EBADF;
    Pending& pending = *handle.pending;
    if (const int loaded = load(pending); loaded < 0)
        return loaded;
    const std::uint64_t end = offset + count;
    if (end > pending.staged->length() && !access_.fits(end))
        return -EFBIG;
    const std::int64_t written = pending.staged->write(offset, from, count);
    if (written > 0) {
        pending.dirty = true;
        noteWrite();
    }
    return written;
}

int SafeFolder::truncate(const std::string& name, Handle* handle, std::uint64_t size) {
    std::shared_ptr<Pending> pending;
    if (handle != nullptr && handle->writer) {
        pending = handle->pending;
    } else {
        if (!exists(name))
            return -ENOENT;
        if (!writable())
            return -EROFS;
        pending = pendingOf(name);
    }
    int result = load(*pending);
    if (result == 0 && size > pending->staged->length() && !access_.fits(size))
        result = -EFBIG;
    if (result == 0)
        result = pending->staged->resize(size);
    if (result == 0) {
        pending->dirty = true;
        noteWrite();
    }
    // A truncate by name is a change of its own, stored at once unless
    // someone is writing the file.
    if (pending->writers == 0) {
        if (result == 0)
            result = commit(*pending);
        if (pending->handles == 0 && !(entriesHeld_ && pending->dirty))
            forget(pending);
    }
    return result;
}

// close(): the file becomes its entry before close() returns, so that an
// unmount right after (which drops a release still on its way) loses
// nothing, and a failure reaches the program. Only the last writer's close
// stores; a release still follows.
int SafeFolder::flush(Handle& handle) {
    if (!handle.writer || !handle.pending || handle.pending->writers != 1)
        return 0;
    return commit(*handle.pending);
}

int SafeFolder::sync(Handle& handle) {
    return handle.writer ? commit(*handle.pending) : 0;
}

// The last close of a handle: what flush() could not store (a program that
// closed a descriptor while another one of the same open was still in use)
// is stored here.
void SafeFolder::release(Handle* handle) {
    if (const std::shared_ptr<Pending> pending = handle->pending) {
        if (handle->writer && --pending->writers == 0) {
            if (const int failed = commit(*pending); failed < 0 && pending->name)
                storeFailures_.emplace_back(*pending->name, -failed);
        }
        // Kept while it holds what could not be stored.
        if (--pending->handles == 0 && !(pending->dirty && pending->name))
            forget(pending);
    }
    --handles_;
    live_.erase(handle);
    delete handle;
}

void SafeFolder::noteWrite() {
    lastWrite_ = Clock::now();
    noteUnsaved();
}

void SafeFolder::noteUnsaved() {
    if (!unsavedSince_)
        unsavedSince_ = Clock::now();
}

std::vector<std::string> SafeFolder::unstoredNames() const {
    std::vector<std::string> names;
    for (const auto& [name, pending] : pending_)
        if (pending->handles == 0 && pending->dirty)
            names.push_back(name);
    return names;
}

int SafeFolder::storeClosedFiles() {
    storesDeferred_ = false;
    int first = 0;
    std::vector<std::shared_ptr<Pending>> closed;
    for (const auto& [name, pending] : pending_)
        if (pending->handles == 0 && pending->dirty)
            closed.push_back(pending);
    for (const std::shared_ptr<Pending>& pending : closed) {
        const int result = commit(*pending);
        if (result < 0) {
            storeFailures_.emplace_back(*pending->name, -result);
            first = first == 0 ? result : first;
        } else {
            forget(pending);
        }
    }
    return first;
}

std::vector<std::pair<std::string, int>> SafeFolder::takeStoreFailures() {
    return std::exchange(storeFailures_, {});
}

int SafeFolder::unlink(const std::string& name) {
    if (!exists(name))
        return -ENOENT;
    if (!writable())
        return -EROFS;
    if (entriesHeld_)
        return -EBUSY;
    // A program that has the file open goes on reading it after the name is
    // gone, as on any disk: its bytes are staged before the entry goes.
    if (isOpen(name)) {
        const std::shared_ptr<Pending> pending = pendingOf(name);
        if (const int loaded = load(*pending); loaded < 0)
            return loaded;
        for (Handle* handle : live_)
            if (handle->name == name && !handle->pending) {
                handle->pending = pending;
                ++pending->handles;
            }
    }
    const auto pending = pending_.find(name);
    if (pending != pending_.end()) {
        pending->second->name.reset();
        pending_.erase(pending);
    }
    if (const auto row = rowOf(name)) {
        if (const int removed = access_.remove(*row); removed < 0)
            return removed;
        if (keepsTree()) {
            dropRowName(*row);
        } else {
            std::vector<std::optional<std::string>> shown = shownOfRow_;
            shown.erase(shown.begin() + static_cast<std::ptrdiff_t>(*row));
            keepNames(std::move(shown));
        }
        noteChange(name);
    }
    if (keepsTree())
        touchFolderOf(name);
    return 0;
}

} // namespace quorvane
