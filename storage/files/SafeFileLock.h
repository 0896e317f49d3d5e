#pragma once

// The exclusive lock that a program holds on a safe file for as long as it has
// the safe open, so that no second program (another window, a script with the
// command-line tool) changes it at the same time and one of them silently
// throws the other's changes away.
//
// The lock is flock(2) on a descriptor of the safe file itself. A save puts a
// new file in place of the old one, so the lock moves with it: the fresh file
// is locked before it is renamed over the safe (adopt), and whoever takes the
// lock checks that its descriptor still holds the file at the path.

#include "storage/files/FileIdentity.h"
#include "storage/files/UniqueFd.h"

#include <filesystem>
#include <optional>
#include <string>

namespace quorvane {

enum class LockResult {
    Locked,
    Busy,   // another program holds the safe open
    Failed, // the file could not be opened or locked
};

// Whether a failed flock(2) means the file system has no such locks at all.
bool locksUnsupported(int error);

class SafeFileLock {
  public:
    SafeFileLock() = default;
    ~SafeFileLock();
    SafeFileLock(const SafeFileLock&) = delete;
    SafeFileLock& operator=(const SafeFileLock&) = delete;

    // Opens the file at path for reading and locks it, giving up any lock held
    // before. Failed when the file cannot be opened or locked (a missing or
    // unreadable safe is then refused by its decryption, with its own words).
    LockResult acquire(const std::filesystem::path& path);
    // Takes over fd, already locked, as the held file (after a replacement);
    // the file held before is let go.
    void adopt(UniqueFd fd, const FileIdentity& identity);
    void release();
    // After a write of our own into the held file itself (a vault's commit):
    // what was written is expected from now on.
    void expectCurrent();

    bool held() const { return fd_.valid(); }
    // Where the held file is now when path no longer names it: renamed or
    // moved (mv) within its file system while it was open. None while path
    // still names it, when it is nowhere (removed) or cannot be told, and
    // when path's folder is gone itself (it may come back).
    std::optional<std::filesystem::path> movedFrom(const std::filesystem::path& path) const;
    // The locked file, open for reading.
    int fd() const { return fd_.get(); }
    // The file as it was when it was locked or last written by us.
    const FileIdentity& identity() const { return identity_; }

  private:
    UniqueFd fd_; // closing the last descriptor of the file ends the lock
    FileIdentity identity_;
};

} // namespace quorvane
