#pragma once

#include "storage/Failure.h"
#include "storage/files/FileIdentity.h"
#include "storage/files/UniqueFd.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

namespace quorvane {

// What of the old file's access the fresh file could not be given. All kept
// for a target that did not exist before.
struct AccessKept {
    bool owner = true;      // false: the file is the saver's now
    bool group = true;      // false: it has the saver's group, which is given no access
    bool accessList = true; // false: its ACL could not be copied (accessListError):
                            // the users and groups it named lost their access
    bool attributes = true; // false: other extended attributes were not copied (attributesError)
    unsigned ownerWas = 0, ownerNow = 0, groupWas = 0, groupNow = 0;
    int accessListError = 0;
    int attributesError = 0;

    bool all() const { return owner && group && accessList && attributes; }
};

struct ReplaceResult {
    // Why the target does not hold the new content; none once it does. A
    // result nobody filled in says that nothing was replaced.
    std::optional<Failure> failure = Failure{};
    std::string warning;   // once replaced: what went wrong after the new file stood
    UniqueFd lockedFd;     // with ReplaceGuard::lockFresh: the new file, open and locked
    FileIdentity identity; // of the new file, when replaced
    AccessKept access;     // when replaced

    bool replaced() const { return !failure; }
};

inline constexpr const char* TargetChangedReason =
    "The safe file was changed by another program since it was opened; it was not replaced.";

// What a replacement must make sure of beyond a whole, durable new file.
struct ReplaceGuard {
    // The file at the target must still be this one, unchanged, when the new
    // one is put in its place; otherwise nothing is replaced.
    std::optional<FileIdentity> expected;
    // Called with the fresh file (complete, fsynced, its cached pages dropped,
    // positioned at its start); a Failure refuses it, saying why.
    std::function<std::optional<Failure>(int fd)> verify;
    // Lock the fresh file (flock) before it takes the target's name, and hand
    // its descriptor to the caller, so that the lock on a file follows it.
    bool lockFresh = false;
};

// Replaces the file at target with what writeContent writes, so that the old
// file stays whole until the new one is complete on disk: the content goes to
// a fresh file in target's own folder (a symlinked target is resolved first),
// which is flushed, fsynced, given the old file's permissions (0600 for a new
// file: its owner and group where the saver may set them, its mode, its access
// ACL and other extended attributes; never more than the old file allowed, and
// what could not be kept is said in the result's access), checked by the guard and renamed over it;
// then the folder is fsynced. writeContent returns a Failure, saying why, to abandon the
// replacement. On any failure the fresh file is removed and the target is
// untouched. A folder that cannot be fsynced after the rename leaves ok true
// (the target holds the new content) with the reason as a warning.
// Whether a replacement of target could begin: its folder takes a fresh file
// (made and removed again at once) and the target is no folder. Asked before
// the user is asked anything, so that a path that cannot be written is told
// at once. Nothing when it could, else why not.
std::optional<Failure> cannotReplaceFileAt(const std::filesystem::path& target);

ReplaceResult
replaceFileAtomically(const std::filesystem::path& target,
                      const std::function<std::optional<Failure>(std::ostream& out)>& writeContent,
                      const ReplaceGuard& guard = {});

} // namespace quorvane
