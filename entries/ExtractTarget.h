#pragma once

// Writing one extracted entry into the chosen folder without ever leaving it.
// Stored names come from safes made anywhere, so a name is used only when it
// is a plain file name, and the bytes go into a fresh file created relative to
// the folder (unnamed until it is complete where the file system allows, else
// under a hidden name with O_EXCL), which is then renamed over the name: neither "../x",
// "a/b", a symbolic link nor a hard link placed in the folder can send the
// bytes elsewhere or change a file outside it. Nor may an entry named like the
// open safe, extracted into the safe's folder, put itself in the safe's place.

#include <functional>
#include <ostream>
#include <string>
#include <sys/types.h>

namespace quorvane {

// The chosen folder, opened once for all the entries of one extraction, with
// the one file no entry may replace under any of its names: the open safe's
// (its device and inode, taken once here; none when safePath names nothing).
class ExtractFolder {
  public:
    ExtractFolder(const std::string& path, const std::string& safePath);
    ~ExtractFolder();
    ExtractFolder(const ExtractFolder&) = delete;
    ExtractFolder& operator=(const ExtractFolder&) = delete;

    int fd() const { return fd_; }
    int openError() const { return openError_; } // errno when the folder could not be opened
    bool isTheSafe(dev_t device, ino_t inode) const {
        return safeKnown_ && device == safeDevice_ && inode == safeInode_;
    }

  private:
    int fd_ = -1;
    int openError_ = 0;
    bool safeKnown_ = false;
    dev_t safeDevice_ = 0;
    ino_t safeInode_ = 0;
};

// A name that can only mean a file directly inside the folder.
bool isPlainEntryName(const std::string& name);

enum class TargetOutcome { Written, Skipped, Failed };

struct TargetResult {
    TargetOutcome outcome = TargetOutcome::Failed;
    std::string detail; // why it was skipped or failed
};

// Lets writeContent fill a fresh file in folder (private, mode 0600, while it is
// written) and puts it in place under name, replacing an ordinary file of that
// name other than the open safe. The new file takes the permissions of the one
// it replaces, its access ACL included (its links are not carried over), or
// under a new name 0666 less the umask. writeContent returns false when its source could not be
// read. On any failure the fresh file is removed and an existing file of that name is left as it
// was.
TargetResult writeEntryFile(const ExtractFolder& folder, const std::string& name,
                            const std::function<bool(std::ostream&)>& writeContent);

} // namespace quorvane
