#pragma once

// The folder's record of a file that is not yet its entry, shared by the
// files that make up SafeFolder.

#include "mount/SafeFolder.h"

namespace quorvane {

// A file written (or opened for writing) through the folder that is not yet
// its entry. Until its first write it reads as the entry of its name.
struct SafeFolder::Pending {
    std::optional<std::string> name; // none once deleted or replaced by a rename
    std::unique_ptr<StagedFile> staged;
    bool loaded = false; // staged holds the whole content
    bool dirty = false;  // written since it was last stored
    int writers = 0;
    int handles = 0;
    // Time and mode set before it was stored (cp -p sets them on the open
    // file), given to its entry when it is; none: now, and the old mode.
    std::optional<EntryStamp> stamp;
};

} // namespace quorvane
