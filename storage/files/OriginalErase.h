#pragma once

// Erasing the original of a file that has been stored: it is opened once,
// with O_NOFOLLOW, together with the folder that holds it, checked against
// the snapshot taken before it was stored, overwritten through that
// descriptor, and its name removed only while the name still names that very
// file. What happened comes back as a result and an errno; the layer above
// says it in its own words.

#include "storage/files/SourceSnapshot.h"
#include "storage/files/UniqueFd.h"

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace quorvane {

// The original, opened once together with the folder that holds it, so that
// the overwrite, the check of the name and the unlink all reach the same file
// and the same folder, whatever is renamed or swapped in between.
struct OriginalToErase {
    UniqueFd folder;
    UniqueFd file; // what the erase is judged and done on, none until it is opened
    std::string name;
    dev_t device = 0;
    ino_t inode = 0;
};

enum class OriginalCheck {
    Opened,
    IsLink,        // a symbolic link: overwriting would destroy what it points to
    Changed,       // no longer the file that was stored (or gone)
    HasOtherNames, // another name would lose its content to the overwrite
    Failed,        // error: it could not be opened or looked at
};

struct OriginalOpenResult {
    OriginalCheck outcome = OriginalCheck::Failed;
    int error = 0; // errno for Failed
};

// Opens the file at path to be erased if it may be: still the file of the
// snapshot `before` (taken before it was stored, size bytes long), no link,
// and no other name. Only an Opened original can be erased.
OriginalOpenResult openOriginalToErase(const std::string& path, const SourceSnapshot& before,
                                       std::uint64_t size, OriginalToErase& original);

enum class OriginalErase {
    Erased,             // overwritten; deleted says whether its name is gone
    OverwriteFailed,    // error: not every byte could be overwritten; the name stays
    NameNowAnotherFile, // overwritten, but the name now stands for another file: kept
};

struct OriginalEraseResult {
    OriginalErase outcome = OriginalErase::OverwriteFailed;
    int error = 0;        // errno for OverwriteFailed
    bool deleted = false; // the name is gone (a failed unlink is not reported)
};

// Two overwrites through the descriptor, then the name is removed if it still
// names that file.
OriginalEraseResult eraseAndUnlink(const OriginalToErase& original);

} // namespace quorvane
