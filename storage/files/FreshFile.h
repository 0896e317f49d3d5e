#pragma once

// A file being made beside its final place (a save beside the safe, an entry
// extracted into the user's folder), removed again unless it is committed: no
// branch of a failed save or extraction, an exception included, can leave it
// behind. Where the file system allows it has no name at all (O_TMPFILE)
// until it is complete: a process killed in the middle (SIGKILL, a crash, the
// power) then leaves nothing. Elsewhere, and for the moment before a rename,
// it has a hidden name, noted as unfinished so that a process stopped by a
// signal removes it.

#include "storage/files/UnfinishedFiles.h"
#include "storage/files/UniqueFd.h"

#include <functional>
#include <string>

namespace quorvane {

class FreshFile {
  public:
    // folder: the folder the file is made in, held open by the caller for as
    // long as this lives. hiddenName: a new name to try, beside the target.
    FreshFile(int folder, std::function<std::string()> hiddenName);
    ~FreshFile() { discard(); }
    FreshFile(const FreshFile&) = delete;
    FreshFile& operator=(const FreshFile&) = delete;

    // Creates the empty file, mode 0600, open with accessMode (O_WRONLY or
    // O_RDWR). 0, or the errno of the failure.
    int make(int accessMode);

    int fd() const { return fd_.get(); }
    // Empty while the file has no name.
    const std::string& hiddenName() const { return hiddenName_; }

    // Gives an unnamed file a hidden name, ready for a rename; 0 or errno.
    int nameHidden();
    // Gives the file name in the folder without ever replacing anything
    // (EEXIST when the name is taken): an unnamed file is linked there
    // directly, so that it never has a hidden name at all. 0 (the file is
    // committed) or errno. The descriptor must still be open.
    int linkAs(const std::string& name);
    // Renames the file (named first where it is not) to name in the folder,
    // replacing what has that name, or with noReplace never: then EEXIST when
    // the name is taken. 0 (the file is committed) or errno.
    int renameTo(const std::string& name, bool noReplace = false);

    // Hands the descriptor over, the file staying as it is.
    UniqueFd takeFd() { return std::move(fd_); }
    // Closes the file now: 0 or the errno of close(2).
    int closeFd() { return fd_.close(); }

    // The file has taken its final place: nothing of it is removed any more.
    void commit();
    // Removes the file (its hidden name) unless it was committed.
    void discard();

  private:
    int underHiddenName(const std::function<bool(const char*)>& attempt);

    int folder_;
    std::function<std::string()> makeName_;
    UniqueFd fd_;
    std::string hiddenName_;
    UnfinishedFile note_;
    bool committed_ = false;
};

} // namespace quorvane
