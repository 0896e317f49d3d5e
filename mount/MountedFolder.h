#pragma once

// The open safe mounted as a folder (FUSE): one thread serves the kernel's
// requests one at a time, each under the session's lock (the container is not
// thread-safe, and the window works on it too), and writes the safe file by
// itself once the folder has been quiet for a while. No other user can enter
// the folder (no allow_other), and the kernel keeps none of its files' pages
// (direct_io): what a program reads is decrypted for that read alone.

#include "mount/SafeAccess.h"
#include "mount/SafeFolder.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

struct fuse;

namespace quorvane {

// Held by whoever works on the open safe: the folder's thread for each
// request, the window for each of its commands. Recursive, because the
// window's commands nest (a local event loop runs while one waits).
using SessionLock = std::recursive_timed_mutex;

// How long a request of the folder waits for the window's command to end
// before it fails with EBUSY: a command of the window that reads or writes
// the folder itself (a file added from it) must not wait for ever.
inline constexpr std::chrono::seconds FolderLockWait{30};

struct MountSettings {
    bool readOnly = false;
    // The safe file is written once no file has been written for quietPeriod,
    // and not more often than every saveInterval: a save rewrites the whole safe.
    std::chrono::milliseconds quietPeriod{10'000};
    std::chrono::milliseconds saveInterval{60'000};
};

class MountedFolder {
  public:
    // save writes the safe file (called on the serving thread, under lock);
    // it returns false, with the reason, when the write failed.
    using SaveSafe = std::function<bool(std::string& reason)>;

    MountedFolder(SafeState& state, SessionLock& lock, MountSettings settings, SaveSafe save);
    ~MountedFolder(); // unmounts if still mounted
    MountedFolder(const MountedFolder&) = delete;
    MountedFolder& operator=(const MountedFolder&) = delete;

    // Mounts the folder on dir (an empty folder); false with the reason.
    bool mount(const std::filesystem::path& dir, std::string& reason);
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
    // Whether the folder changed the safe since its last save (under lock).
    bool unsaved() const { return folder_.changed(); }
    void markSaved() { folder_.markSaved(); }

    // What the kernel's requests reach, on the serving thread.
    struct Served {
        SafeFolder& folder;
        SessionLock& lock;
    };

  private:
    // The one step after each request (and each wake-up of the loop): the
    // open files counted, the list told of a change, closed files that could
    // not be stored tried again, the timed save, failures reported. Ending:
    // a last try to store them, and no timed save (the final one follows).
    void afterRequest(bool ending);
    bool saveIfDue(std::string& reason);
    int waitTimeout() const;

    SessionLock& lock_;
    MountSettings settings_;
    SaveSafe save_;
    SafeAccess access_;
    SafeFolder folder_;
    std::atomic<std::size_t> openFiles_{0};
    unsigned changesSeen_ = 0;
    Served served_{folder_, lock_};
    struct fuse* fuse_ = nullptr;
    bool mounted_ = false;
    int wakeFd_ = -1;
    std::atomic<int> stopAsked_{0}; // 0 none, 1 when no file is open, 2 at once
    std::chrono::steady_clock::time_point lastSave_{};
    bool saveFailedLast_ = false;
};

// The folder a mount's dead remains point at, for the sweep: "quorvane:PID".
std::string mountSourceName();

} // namespace quorvane
