#pragma once

#include "storage/files/UniqueFd.h"

#include <cstddef>
#include <filesystem>
#include <system_error>

namespace quorvane {

// Names under the temporary directory. A folder is made under a staging name
// and takes its final name only once its lock is held, so that a folder under
// the final name whose lock is free belongs to a process that is gone.
inline constexpr const char* WorkingFolderPrefix = "quorvane-";
inline constexpr const char* StagingFolderPrefix = ".quorvane-staging-";
inline constexpr const char* WorkingFolderLock = "lock";
// The length of the random part that mkdtemp gives both names.
inline constexpr std::size_t WorkingFolderSuffixLength = 6;

// The folder the working folders are made in: TMPDIR (or /tmp) where others
// cannot swap what is in it, else the per-user runtime folder. Throws
// UnsafeTemporaryDirectory when neither will do.
std::filesystem::path workingFolderParent();

// One private directory per process (mode 0700) under the system's temporary
// directory, where the plaintext working copy and every intermediate live.
// Removed with everything in it when the object goes away. It holds a lock
// file, locked (flock) for as long as the object lives: a later process that
// finds the lock free knows nobody works in the folder any more.
//
// The folder is held by a descriptor from its creation on, and its files are
// reached through that descriptor (anchored()), never by its name: where the
// temporary directory lets others rename what is in it, a folder swapped in
// under our name must not receive our plaintext nor hand us its own files.
// Thrown when the temporary directory lets others rename what is in it and no
// private place can be found instead; what() says so in full.
class UnsafeTemporaryDirectory : public std::system_error {
  public:
    using std::system_error::system_error;
};

class WorkingDirectory {
  public:
    WorkingDirectory(); // throws std::system_error when it cannot be made safely
    ~WorkingDirectory();
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;

    // Removes the folder and everything in it now, as the destructor would;
    // for a process that ends without unwinding. Nothing is done twice.
    void remove();

    // Where the folder was made (for messages and for removal by name).
    const std::filesystem::path& path() const { return path_; }
    // A path that reaches this very folder through its descriptor, wherever
    // it has been moved: every file in it is opened below this path.
    std::filesystem::path anchored() const;

  private:
    bool makeLockedFolder(const std::filesystem::path& parent);

    std::filesystem::path path_;
    UniqueFd fd_;
    UniqueFd lockFd_;
};

} // namespace quorvane
