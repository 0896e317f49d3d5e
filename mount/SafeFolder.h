#pragma once

// What the folder shows and does, one call per file operation, without the
// kernel: each call takes a file name (no '/'), returns 0 (or a count) or a
// negative errno, and works on the container through SafeAccess alone. A file
// opened for writing is staged and becomes an entry when its last writer
// closes it (or syncs it): a new entry first, then the old entry of that name
// removed, so that a failure keeps the old one. A name stands for one entry,
// not for a place in the list: saving through it changes that entry alone.
// Not thread-safe: the caller holds the session's lock around every call.

#include "mount/SafeAccess.h"
#include "storage/format/ContentEntry.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace quorvane {

class SafeFolder {
  public:
    using Clock = std::chrono::steady_clock;

  private:
    struct Pending;

  public:
    // One open of a file; the folder gives it out and takes it back at release.
    struct Handle {
        std::shared_ptr<Pending> pending; // the staged file it reads or writes, if any
        std::string name;                 // the name it was opened under
        bool writer = false;
    };

    SafeFolder(SafeAccess& access, bool mountedReadOnly);
    ~SafeFolder();
    SafeFolder(const SafeFolder&) = delete;
    SafeFolder& operator=(const SafeFolder&) = delete;

    struct Status {
        std::uint64_t size = 0;
        std::time_t modified = 0;
        long modifiedNanoseconds = 0;
        bool folder = false;
        unsigned mode = 0600; // the owner's bits
    };
    int status(const std::string& name, Status& status);
    std::vector<std::string> names();

    // A safe that keeps a tree: names are paths ("Taxes/2025/return.pdf"),
    // and folders, times and modes are its own. A flat one refuses a folder
    // with EPERM and keeps no time.
    bool keepsTree() const { return access_.keepsTree(); }
    // The entries were changed from outside (the window; any thread): the
    // names are worked out anew at the next call. A tree's are trusted
    // until then, or until the folder changes the entries itself.
    void namesChangedOutside() { namesStale_.store(true); }
    // Every name the kernel may have looked up: in a tree, every path.
    std::vector<std::string> allNames();
    // The names directly inside folder ("" is the top).
    std::vector<std::string> namesIn(const std::string& folder);
    int makeFolder(const std::string& path, unsigned mode);
    int removeFolder(const std::string& path);
    // Seconds and nanoseconds of the modification time, or a new mode (the
    // owner's bits); of a file or a folder. handle: an open file's own.
    int setStamp(const std::string& path, const Handle* handle,
                 const std::optional<std::pair<std::time_t, long>>& modified,
                 const std::optional<unsigned>& mode);

    // flags as open(2) gives them; create makes the file when it is missing.
    int open(const std::string& name, int flags, bool create, Handle*& handle);
    std::int64_t read(Handle& handle, std::uint64_t offset, char* into, std::size_t count);
    std::int64_t write(Handle& handle, std::uint64_t offset, const char* from, std::size_t count);
    // handle may be null (a truncate by name).
    int truncate(const std::string& name, Handle* handle, std::uint64_t size);
    // close() of a file descriptor: the last writer's stores the file.
    int flush(Handle& handle);
    // fsync: the file becomes its entry now, and a failure reaches the
    // program that asked.
    int sync(Handle& handle);
    // The last close of a handle (the kernel sends it after close() has
    // returned): a file whose last writer this was becomes its entry. One
    // that cannot be stored stays in the folder as it is, is listed by
    // takeStoreFailures(), and is tried again by storeClosedFiles().
    void release(Handle* handle);
    // Stores every closed file that could not be stored before. 0, or the
    // first failure (-errno).
    int storeClosedFiles();
    // The files that could not be stored since the last call, with the
    // system's reason.
    std::vector<std::pair<std::string, int>> takeStoreFailures();
    int unlink(const std::string& name);
    // flags as renameat2(2) gives them.
    int rename(const std::string& from, const std::string& to, unsigned flags);

    std::time_t mountedAt() const { return mountedAt_; }
    // The top folder's modification time: the mount's start, moved as names
    // in it come and go where the safe keeps a tree (kept while mounted
    // only: the safe has no entry for its top). Read without the lock (any
    // thread): a stat of the top never waits for the window.
    timespec topModified() const {
        // Rounded down, so that a time before 1970 keeps its nanoseconds in range.
        const std::int64_t at = topModified_.load();
        const std::int64_t nanoseconds = ((at % 1'000'000'000) + 1'000'000'000) % 1'000'000'000;
        return {static_cast<std::time_t>((at - nanoseconds) / 1'000'000'000),
                static_cast<long>(nanoseconds)};
    }
    // The largest file the container can still take.
    std::uint64_t room() const { return writable() ? access_.room() : 0; }
    // Open handles: a file in the folder that some program still has open.
    std::size_t openHandles() const { return handles_; }
    // The container changed through the folder since markSaved().
    bool changed() const { return changed_; }
    void markSaved() {
        changed_ = false;
        unsavedSince_.reset();
    }
    // When a file was last written through the folder.
    Clock::time_point lastWrite() const { return lastWrite_; }
    // The first write or change since markSaved() (now when there is none).
    Clock::time_point unsavedSince() const { return unsavedSince_.value_or(Clock::now()); }
    // Closed files that could not be stored yet: what ending now would lose.
    std::vector<std::string> unstoredNames() const;
    // The name under which entry row shows, if any.
    std::optional<std::string> shownNameOf(std::size_t row);
    // Counts every change to the entries (for whoever shows the list).
    unsigned changeCount() const { return changeCount_; }
    // While held, no call changes the entries (the window's command waits
    // for the user and holds rows and names): a store is put off until
    // storeClosedFiles(), a removal or rename is refused with EBUSY.
    void holdEntries(bool held) { entriesHeld_ = held; }
    // A store was put off while the entries were held.
    bool storesDeferred() const { return storesDeferred_; }

  private:
    void forgetNames() {
        namesKnown_ = false;
        treePaths_.reset();
    }
    bool writable() const;
    int treeStatus(const std::string& name, Status& status);
    const std::set<std::string>& treePaths();
    int treeCommit(Pending& pending);
    int treeRename(const std::string& from, const std::string& to);
    int checkTreeName(const std::string& name);
    void movePending(const std::string& from, const std::string& to);
    void refreshNames();
    void indexShownNames();
    void keepNames(std::vector<std::optional<std::string>> shownOfRow);
    // After a tree's file was stored as a new last entry.
    void keepNewName(const std::string& path);
    // After a tree's entry at row was removed, or its file at row renamed:
    // false when the names were not as expected and are worked out anew.
    bool dropRowName(std::size_t row);
    bool renameRowName(std::size_t row, const std::string& from, const std::string& to);
    // A name in path's folder came or went: the folder's time moves.
    void touchFolderOf(const std::string& path);
    std::string freeNumberedName(const std::string& name,
                                 const std::vector<std::optional<std::string>>& shown);
    void noteWrite();
    void noteUnsaved();
    std::optional<std::size_t> rowOf(const std::string& name);
    bool exists(const std::string& name);
    bool isOpen(const std::string& name) const;
    std::shared_ptr<Pending> pendingOf(const std::string& name);
    int load(Pending& pending);
    int commit(Pending& pending);
    void forget(const std::shared_ptr<Pending>& pending);
    void noteChange(const std::string& name);
    int checkNewName(const std::string& name) const;

    SafeAccess& access_;
    bool mountedReadOnly_;
    // The shown names, recomputed whenever the stored names change.
    std::vector<std::string> storedNames_;
    std::vector<std::optional<std::string>> shownOfRow_;
    std::unordered_map<std::string, std::size_t> rows_;
    std::vector<std::string> shown_;
    bool namesKnown_ = false;
    std::optional<std::set<std::string>> treePaths_;
    std::atomic<bool> namesStale_{false};
    std::map<std::string, std::shared_ptr<Pending>> pending_;
    std::map<std::string, std::time_t> modified_;
    std::time_t mountedAt_;
    std::atomic<std::int64_t> topModified_; // nanoseconds since 1970
    std::size_t handles_ = 0;
    std::unordered_set<Handle*> live_; // given out and not yet released
    std::vector<std::pair<std::string, int>> storeFailures_;
    bool changed_ = false;
    bool entriesHeld_ = false;
    bool storesDeferred_ = false;
    unsigned changeCount_ = 0;
    Clock::time_point lastWrite_{};
    std::optional<Clock::time_point> unsavedSince_;
};

} // namespace quorvane
