#pragma once

// The requests the kernel sends for the folder, each answered from the
// SafeFolder of the mount that serves them (fuse_get_context()->private_data
// is its MountedFolder::Served), one at a time under the session's lock. As in
// libfuse's examples, each handler bears the name of its slot in
// fuse_operations; FUSE_USE_VERSION comes from the build.

#include <fuse.h>

namespace quorvane {

// Programs read and write in pieces of this size (st_blksize), and the
// kernel hands them over in one request.
inline constexpr unsigned TransferSize = 1u << 20;

fuse_operations folderOperations();

} // namespace quorvane
