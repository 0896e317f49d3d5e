#pragma once

// Folders that a killed program left mounted. The kernel keeps a folder
// mounted after the program serving it has gone; every access to it then
// fails ("Transport endpoint is not connected"). Both programs look for such
// remains of theirs when they start, as they look for abandoned working
// folders, and unmount them.

#include <filesystem>
#include <istream>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace quorvane {

// The type under which the system lists our folders ("fuse." + subtype).
inline constexpr const char* FolderMountType = "fuse.quorvane";

struct FolderMount {
    std::filesystem::path mountPoint;
    std::string source;         // mountSourceName() of the program that mounted it
    std::optional<uid_t> owner; // the user_id the kernel keeps for it
};

// The folders of ours listed in a mountinfo table (/proc/self/mountinfo).
std::vector<FolderMount> folderMounts(std::istream& mountinfo);

// The name a mount gives as its source ("quorvane:" + the real path of the
// serving process's private working folder): the folder whose lock tells
// whether the mount is still served.
std::string mountSourceName(const std::filesystem::path& stateFolder);

// Where the window mounts an open safe: $XDG_RUNTIME_DIR/quorvane (the
// per-user runtime folder: private, and gone at logout), else a folder of
// ours under the temporary directory. Not created here.
std::filesystem::path windowMountParent();

// windowMountParent(), made if missing (0700), and checked to be ours: a
// folder (not a link) that this user owns and nobody else may enter. None,
// with the errno, when it is not.
std::optional<std::filesystem::path> madeWindowMountParent(int& error);

// Unmounts (lazily, so that a program still inside does not stop it) every
// folder of ours mounted by this user whose server no longer holds its lock,
// and removes its mount point when the window made it. Returns how many.
int removeDeadMounts();

} // namespace quorvane
