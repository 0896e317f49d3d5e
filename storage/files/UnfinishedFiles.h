#pragma once

// Files this process is in the middle of writing under a temporary name
// beside their final place (an entry being extracted into the user's folder,
// the fresh file of a save beside the safe). A process stopped by a signal
// removes them on its way out, so that no hidden, half-written file stays in
// a folder of the user's.

#include <sys/types.h>

namespace quorvane {

class UnfinishedFile {
  public:
    UnfinishedFile() = default;
    ~UnfinishedFile() { forget(); }
    UnfinishedFile(const UnfinishedFile&) = delete;
    UnfinishedFile& operator=(const UnfinishedFile&) = delete;

    // openat(folder, name, flags, mode), and the name noted, with no signal
    // handled in between: the file never exists unnoted. The descriptor, or
    // -1 with errno set. folder must stay open until forget().
    int create(int folder, const char* name, int flags, mode_t mode);
    // linkat of the unnamed file open on fd to name in folder, noted the same way.
    bool link(int fd, int folder, const char* name);
    // The file was renamed into place or removed: nothing to do for it any more.
    void forget();

  private:
    int slot_ = -1;
};

// Unlinks every file noted and not yet forgotten. Only async-signal-safe
// calls on memory set aside beforehand: it runs from a thread that has
// stopped the others wherever they were.
void removeUnfinishedFiles();

} // namespace quorvane
