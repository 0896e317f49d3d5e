#pragma once

// The open safe mounted as a folder (FUSE): one thread serves the kernel's
// requests one at a time, each under the session's lock (the container is not
// thread-safe, and the window works on it too), and writes the safe file by
// itself once the folder has been quiet for a while, and at the latest a
// minute after the first change it has not written. No other user can enter
// the folder (no allow_other). The kernel keeps the pages of the files in its
// page cache (read-ahead, shared maps, large writes), dropped at each open,
// and names and attributes for a second; all of them are dropped whenever the
// window changes the entries.

#include "mount/SafeAccess.h"
#include "mount/SafeFolder.h"
#include "mount/SessionLock.h"
#include "storage/Failure.h"
#include "storage/files/UniqueFd.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

struct fuse;

namespace quorvane {

// How long a request of the folder waits for the window's command to end
// before it fails with EBUSY: a command of the window that reads or writes
// the folder itself (a file added from it) must not wait for ever. While the
// command waits for the user, requests are served at once (SessionLock).
inline constexpr std::chrono::seconds FolderLockWait{30};

struct MountSettings {
    bool readOnly = false;
    // The safe file is written once no file has been written for quietPeriod,
    // and not more often than every saveInterval: a save rewrites the whole safe.
    std::chrono::milliseconds quietPeriod{10'000};
    std::chrono::milliseconds saveInterval{60'000};
    // However busy the folder, a change is written within this time: a kill
    // loses at most this much work.
    std::chrono::milliseconds longestUnsaved{60'000};
};

class MountedFolder {
  public:
    // save writes the safe file (called on the serving thread, under lock);
    // it returns why when the write failed.
    using SaveSafe = std::function<std::optional<Failure>()>;

    MountedFolder(SafeState& state, SessionLock& lock, MountSettings settings, SaveSafe save);
    ~MountedFolder(); // unmounts if still mounted
    MountedFolder(const MountedFolder&) = delete;
    MountedFolder& operator=(const MountedFolder&) = delete;

    // Mounts the folder on dir (an empty folder); why not, when it failed.
    [[nodiscard]] std::optional<Failure> mount(const std::filesystem::path& dir);
    // Serves until the folder is unmounted, from outside (fusermount3 -u,
    // umount) or after stop(); returns once it is.
    void serve();
    // Callable from any thread and from the watcher of signals: ends serve().
    // Unless forced, serving goes on until no file of the folder is open.
    void stop(bool force);

    // Files of the folder that programs have open now (any thread).
    std::size_t openFiles() const { return openFiles_.load(); }
    // Called on the serving thread, outside the lock, after the folder
    // changed the entries.
    std::function<void()> onChange;
    // Called on the serving thread when a timed save failed.
    std::function<void(const std::string& reason)> onSaveFailed;
    // Called on the serving thread when a closed file could not be stored
    // (it stays in the folder and is tried again before each save).
    std::function<void(const std::string& name, const std::string& reason)> onStoreFailed;
    // Called on the serving thread when the private working folder, whose
    // lock tells other programs that this mount is served, is gone: the
    // folder then ends, as if unmounted.
    std::function<void()> onStateFolderGone;
    // Called on the serving thread when a flat safe refused a sub-folder
    // (mkdir): the log says why.
    std::function<void()> onFolderRefused;
    // Called on the serving thread, once, when another program rewrote the
    // safe file under the folder: the session is read-only from then on.
    std::function<void()> onSafeChanged;
    // The window changed the entries (any thread): the folder's names are
    // worked out anew at the next request, and the kernel is told to drop
    // what it keeps of the folder as soon as the command lets go of the lock
    // (a name new to it is never kept as missing: it is found at once).
    void entriesChangedOutside();
    // The name under which entry row shows in the folder (under lock).
    std::optional<std::string> shownNameOf(std::size_t row) { return folder_.shownNameOf(row); }
    // Files closed in the folder that could not be stored yet (under lock).
    std::vector<std::string> unstoredFiles() const { return folder_.unstoredNames(); }
    // After serve(): stores what was closed but not stored; each file that
    // still could not be, with the errno.
    std::vector<std::pair<std::string, int>> storeRemaining();
    // Called on the serving thread after each request of the kernel: the
    // folder is in use.
    std::function<void()> onRequest;
    // One more descriptor the serving loop waits on (the watch of what closes
    // the safe by itself): wake runs on the serving thread, outside the lock,
    // after every turn of the loop; timeout says how long the loop may wait
    // for it (milliseconds, -1: no limit).
    struct SideWatch {
        int fd = -1;
        std::function<int()> timeout;
        std::function<void()> wake;
    };
    void watchAlso(SideWatch watch) { side_ = std::move(watch); }
    // Stores the closed files and writes the safe file if the folder changed
    // it, before a close; on the serving thread. Why not, when the write
    // failed.
    [[nodiscard]] std::optional<Failure> saveBeforeClosing();
    // Whether the folder changed the safe since its last save (under lock).
    bool unsaved() const { return folder_.changed(); }
    void markSaved() { folder_.markSaved(); }

    // What the kernel's requests reach, on the serving thread.
    struct Served {
        SafeFolder& folder;
        SessionLock& lock;
        // Writes the safe file now (fsync), under the lock: 0 or -errno.
        std::function<int()> saveNow;
        // Where the safe file lies: its disk's free space is the folder's.
        std::filesystem::path safeFolder;
        // Releases that came while the window held the lock, done later by
        // the serving loop: a release is never waited for.
        std::vector<SafeFolder::Handle*> deferredReleases{};
        // A flat safe refused a folder since the loop last looked.
        bool folderRefused = false;
        // The names the kernel was given since the window last changed the
        // entries: what it may keep in its cache and must be told about
        // (names made or renamed through the folder included).
        std::unordered_set<std::string> answered{};
    };

  private:
    // The one step after each request (and each wake-up of the loop): the
    // open files counted, the list told of a change, closed files that could
    // not be stored tried again, the timed save, failures reported. Ending:
    // a last try to store them, and no timed save (the final one follows).
    void afterRequest(bool ending);
    std::optional<Failure> saveIfDue();
    int saveNow();
    int waitTimeout() const;
    int sideTimeout() const;
    bool stateFolderGone() const;
    void invalidateKernelView();

    SessionLock& lock_;
    MountSettings settings_;
    SaveSafe save_;
    SafeAccess access_;
    SafeFolder folder_;
    std::atomic<std::size_t> openFiles_{0};
    unsigned changesSeen_ = 0;
    std::filesystem::path stateFolder_;
    Served served_;
    std::atomic<bool> changedOutside_{false};
    std::thread notices_;
    std::atomic<bool> noticesDone_{true};
    struct fuse* fuse_ = nullptr;
    bool mounted_ = false;
    UniqueFd wakeFd_;
    std::atomic<int> stopAsked_{0}; // 0 none, 1 when no file is open, 2 at once
    std::chrono::steady_clock::time_point lastSave_{};
    bool saveFailedLast_ = false;
    SideWatch side_;
};

} // namespace quorvane
