#pragma once

#include <filesystem>

namespace quorvane {

struct SweepCount {
    int removed = 0;   // folders of processes that are gone, removed
    int leftAlone = 0; // in use, or not plainly ours: not touched
};

// Removes the working folders that processes which ended abnormally (killed,
// crashed, the machine lost power) left under the temporary directory, with
// the plaintext in them. A folder goes only when it is plainly ours: our own,
// mode 0700, not a link, its lock file free, and holding nothing but regular
// files of ours. A folder whose lock is held belongs to a live program and is
// left alone, as is one without a lock file (a program of an older make may
// still work in it), except for a staging folder, which holds nothing before
// its lock exists. Never follows a link; works through descriptors.
SweepCount removeAbandonedWorkingFolders(const std::filesystem::path& parent);
// The same under the folder where this process makes its own; nothing when
// that folder is not one to work in.
SweepCount removeAbandonedWorkingFolders();

} // namespace quorvane
