#pragma once

// Writing one file extracted from a safe into a chosen folder without ever
// leaving it. Stored names come from safes made anywhere, so a name is used
// only when it is a plain file name, and the bytes go into a fresh file
// created relative to the folder (unnamed until it is complete where the file
// system allows, else under a hidden name with O_EXCL), which is then linked
// under a new name, or renamed over the file it replaces: neither "../x", "a/b", a symbolic link
// nor a hard link placed in the folder can send the bytes elsewhere or change a file outside it.
// Nor may a file named like the open safe, extracted into the safe's folder, put itself in the
// safe's place. What happened comes back as a result and an errno; the layer above says it in its
// own words.

#include "storage/files/UniqueFd.h"

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <sys/types.h>
#include <unordered_map>
#include <utility>

namespace quorvane {

// The chosen folder, opened once for all the entries of one extraction, with
// the one file no entry may replace under any of its names: the open safe's
// (its device and inode, taken once here; none when safePath names nothing).
class ExtractFolder {
  public:
    ExtractFolder(const std::string& path, const std::string& safePath);
    ExtractFolder(const ExtractFolder&) = delete;
    ExtractFolder& operator=(const ExtractFolder&) = delete;

    int fd() const { return fd_.get(); }
    int openError() const { return openError_; } // errno when the folder could not be opened
    bool isTheSafe(dev_t device, ino_t inode) const {
        return safeKnown_ && device == safeDevice_ && inode == safeInode_;
    }

    // The files this extraction has put in the folder, by device and inode:
    // known by what they are, not by their names, so that a folder that
    // folds case or normalises names still shows a second entry the first
    // one's file.
    void noteWritten(dev_t device, ino_t inode) { written_.insert({device, inode}); }
    bool wroteFile(dev_t device, ino_t inode) const { return written_.count({device, inode}) > 0; }
    // The folder name inside this one (a plain entry name), made when missing
    // (mode 0700) and opened without following a link, so that a tree is made
    // below the chosen folder and never beside it; nullptr with error set
    // when it cannot be.
    std::unique_ptr<ExtractFolder> subFolder(const std::string& name, int& error) const;
    // Whether subFolder made this folder (rather than finding it there).
    bool madeHere() const { return madeHere_; }
    // Where the search for a free numbered name beside name goes on (from 2).
    int& nextNumberFor(const std::string& name) {
        return nextNumbers_.try_emplace(name, 2).first->second;
    }

  private:
    ExtractFolder(UniqueFd fd, const ExtractFolder& parent);

    UniqueFd fd_;
    int openError_ = 0;
    bool madeHere_ = false;
    bool safeKnown_ = false;
    dev_t safeDevice_ = 0;
    ino_t safeInode_ = 0;
    std::set<std::pair<dev_t, ino_t>> written_;
    std::unordered_map<std::string, int> nextNumbers_;
};

// A name that can only mean a file directly inside the folder.
bool isPlainEntryName(const std::string& name);

// The name a clashing entry takes instead of name: "(number)" before the
// extension ("IMG_0001 (2).JPG"), or at the end when there is none (a name
// that only starts with a dot has none: ".profile (2)").
std::string numberedName(const std::string& name, int number);

enum class Placement {
    Placed,           // under its name, or under placedAs
    NameNotPlain,     // not a plain file name: nothing was written
    NotPlainFile,     // a folder, a link, a device... has the name: left alone
    IsOpenSafe,       // the name is the open safe's file: left alone
    Failed,           // error: nothing was written (folder, target or fresh file)
    SourceUnreadable, // writeContent could not read its source: the incomplete file was removed
    NotWritten,       // error while the file was written: the incomplete file was removed
    NotPlaced,        // error: the complete file could not take the name and was removed
};

struct PlacementResult {
    Placement outcome = Placement::Failed;
    int error = 0;        // errno for Failed, NotWritten and NotPlaced
    std::string placedAs; // the free name it went under instead of its own, if it did
};

// Lets writeContent fill a fresh file in folder (private, mode 0600, while it is
// written) and puts it in place under name, replacing an ordinary file of that
// name other than the open safe. The new file takes the permissions of the one
// it replaces, its access ACL included (its links are not carried over), or
// under a new name 0666 less the umask. A file that this extraction wrote is
// never replaced: the entry then goes under the first numbered name that
// nothing in the folder has. writeContent returns false when its source could
// not be read. On any failure the fresh file is removed and an existing file of
// that name is left as it was; an exception from writeContent passes through
// once the fresh file is gone. besideExisting: an ordinary file of that name
// is kept too, the entry going under a free numbered name beside it.
// ownerBits: the owner's permission bits the entry keeps (of 0700; never a
// set-id or sticky bit), for its owner; under a new name the group and
// others get no more of them than the umask lets through, a replaced
// file's group and others keep theirs.
PlacementResult placeExtractedFile(ExtractFolder& folder, const std::string& name,
                                   const std::function<bool(std::ostream&)>& writeContent,
                                   bool besideExisting = false,
                                   std::optional<mode_t> ownerBits = std::nullopt);

} // namespace quorvane
