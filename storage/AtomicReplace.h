#pragma once

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>

namespace quorvane {

struct ReplaceResult {
    bool ok = false;
    std::string reason; // the system's reason on failure
};

// Replaces the file at target with what writeContent writes, so that the old
// file stays whole until the new one is complete on disk: the content goes to
// a fresh file in target's own folder (a symlinked target is resolved first),
// which is flushed, fsynced, given the old file's permissions (0600 for a new
// file) and renamed over it; then the folder is fsynced. writeContent returns
// false (and fills its message) to abandon the replacement. On any failure the
// fresh file is removed and the target is untouched; the one exception is a
// folder that cannot be fsynced after the rename, reported as a failure
// although the target already holds the new content.
ReplaceResult replaceFileAtomically(
    const std::filesystem::path& target,
    const std::function<bool(std::ostream& out, std::string& message)>& writeContent);

} // namespace quorvane
