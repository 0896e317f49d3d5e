#pragma once

// Files this process is in the middle of writing under a temporary name
// beside their final place (an entry being extracted into the user's folder,
// the fresh file of a save beside the safe). A process stopped by a signal
// removes them on its way out, so that no hidden, half-written file stays in
// a folder of the user's. A process killed outright (SIGKILL, a crash)
// runs nothing on its way out: for it each such file also has a note in the
// process's private working folder, naming the file by its folder, name,
// device and inode, and the next start's sweep of abandoned working folders
// removes what the notes name (removeNotedFile).

#include <string>
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
    void writeNote(int fd, int folder, const char* name);
    void removeNote();

    int slot_ = -1;
    int noteFolder_ = -1; // where this file's note was written
    std::string noteName_;
};

// The folder (held open by the caller until stopKeepingNotesIn) where notes
// of unfinished files go: the process's working folder. The first one given
// is kept; stopKeepingNotesIn lets it go again.
void keepNotesIn(int folder);
void stopKeepingNotesIn(int folder);

// Whether a name in a working folder is such a note.
bool isUnfinishedNote(const std::string& name);
// Removes the file the note noteName in folder names, if it is still the
// very file noted (same device and inode, a regular file of this user's),
// then the note. For the sweep of a working folder whose process is gone.
void removeNotedFile(int folder, const std::string& noteName);

// Unlinks every file noted and not yet forgotten. Only async-signal-safe
// calls on memory set aside beforehand: it runs from a thread that has
// stopped the others wherever they were.
void removeUnfinishedFiles();

} // namespace quorvane
