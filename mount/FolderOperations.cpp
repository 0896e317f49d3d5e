#define FUSE_USE_VERSION 35

#include "mount/FolderOperations.h"

#include "mount/FolderNames.h"
#include "mount/MountedFolder.h"
#include "storage/format/ContainerIndex.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <vector>

namespace quorvane {

namespace {

MountedFolder::Served& served() {
    return *static_cast<MountedFolder::Served*>(fuse_get_context()->private_data);
}

// Runs one request's work on the folder under the session's lock. The
// window may hold the lock for a whole command; past FolderLockWait the
// request fails (EBUSY) rather than wait for a command that may itself be
// waiting for this folder.
template <typename Work> auto withFolder(Work&& work) -> decltype(work(served().folder)) {
    MountedFolder::Served& here = served();
    std::unique_lock hold(here.lock, std::defer_lock);
    if (!hold.try_lock_for(FolderLockWait))
        return -EBUSY;
    auto result = work(here.folder);
    here.openFiles.store(here.folder.openHandles());
    here.changes.store(here.folder.changeCount());
    return result;
}

// Paths are "/" or "/NAME": the folder is flat.
std::string nameOf(const char* path) {
    return path != nullptr && path[0] == '/' ? std::string(path + 1) : std::string();
}

bool isRoot(const char* path) {
    return path != nullptr && std::strcmp(path, "/") == 0;
}

SafeFolder::Handle* handleOf(const fuse_file_info* info) {
    return info == nullptr ? nullptr : reinterpret_cast<SafeFolder::Handle*>(info->fh);
}

// The name a call is about: its path, or the name its handle was opened
// under when the kernel gives no path (a file deleted while open).
std::string nameFor(const char* path, const fuse_file_info* info) {
    if (path != nullptr)
        return nameOf(path);
    const SafeFolder::Handle* handle = handleOf(info);
    return handle != nullptr ? handle->name : std::string();
}

void* initFolder(fuse_conn_info* connection, fuse_config* config) {
    // Every answer comes from the container as it is now: the window may
    // change it between two calls.
    config->entry_timeout = 0;
    config->attr_timeout = 0;
    config->negative_timeout = 0;
    config->direct_io = 1;
    config->kernel_cache = 0;
    config->hard_remove = 1; // no ".fuse_hidden" files: a deleted open file is simply gone
    config->nullpath_ok = 1;
    config->use_ino = 0;
    if ((connection->capable & FUSE_CAP_ATOMIC_O_TRUNC) != 0)
        connection->want |= FUSE_CAP_ATOMIC_O_TRUNC;
    connection->max_write = TransferSize;
    return fuse_get_context()->private_data;
}

int getStatus(const char* path, struct stat* status, fuse_file_info* info) {
    std::memset(status, 0, sizeof *status);
    status->st_uid = ::getuid();
    status->st_gid = ::getgid();
    if (isRoot(path)) {
        status->st_mode = S_IFDIR | 0700;
        status->st_nlink = 2;
        status->st_mtime = status->st_ctime = status->st_atime = served().folder.mountedAt();
        return 0;
    }
    SafeFolder::Status file;
    const std::string name = nameFor(path, info);
    if (const int failed = withFolder([&](SafeFolder& f) { return f.status(name, file); });
        failed < 0)
        return failed;
    status->st_mode = S_IFREG | 0600;
    status->st_nlink = 1;
    status->st_size = static_cast<off_t>(file.size);
    status->st_blksize = TransferSize;
    status->st_blocks = static_cast<blkcnt_t>((file.size + 511) / 512);
    status->st_mtime = status->st_ctime = status->st_atime = file.modified;
    return 0;
}

int readFolder(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
               fuse_readdir_flags) {
    // Without a path (nullpath_ok) it can only be the folder itself.
    if (path != nullptr && !isRoot(path))
        return -ENOTDIR;
    std::vector<std::string> names;
    if (const int failed = withFolder([&](SafeFolder& f) {
            names = f.names();
            return 0;
        });
        failed < 0)
        return failed;
    fill(buffer, ".", nullptr, 0, fuse_fill_dir_flags{});
    fill(buffer, "..", nullptr, 0, fuse_fill_dir_flags{});
    for (const std::string& name : names)
        fill(buffer, name.c_str(), nullptr, 0, fuse_fill_dir_flags{});
    return 0;
}

int openWith(const char* path, fuse_file_info* info, bool create) {
    SafeFolder::Handle* handle = nullptr;
    const int result = withFolder(
        [&](SafeFolder& f) { return f.open(nameOf(path), info->flags, create, handle); });
    if (result < 0)
        return result;
    info->fh = reinterpret_cast<std::uint64_t>(handle);
    info->direct_io = 1;
    return 0;
}

int openFile(const char* path, fuse_file_info* info) {
    return openWith(path, info, false);
}

int createFile(const char* path, mode_t mode, fuse_file_info* info) {
    if (!S_ISREG(mode))
        return -EPERM;
    return openWith(path, info, true);
}

int readFile(const char*, char* into, size_t count, off_t offset, fuse_file_info* info) {
    return static_cast<int>(withFolder([&](SafeFolder& f) {
        return f.read(*handleOf(info), static_cast<std::uint64_t>(offset), into, count);
    }));
}

int writeFile(const char*, const char* from, size_t count, off_t offset, fuse_file_info* info) {
    return static_cast<int>(withFolder([&](SafeFolder& f) {
        return f.write(*handleOf(info), static_cast<std::uint64_t>(offset), from, count);
    }));
}

int truncateFile(const char* path, off_t size, fuse_file_info* info) {
    if (size < 0)
        return -EINVAL;
    const std::string name = nameFor(path, info);
    return withFolder([&](SafeFolder& f) {
        return f.truncate(name, handleOf(info), static_cast<std::uint64_t>(size));
    });
}

int syncFile(const char*, int, fuse_file_info* info) {
    return withFolder([&](SafeFolder& f) { return f.sync(*handleOf(info)); });
}

// Waits as long as it takes: nobody waits for a release (close has returned),
// and the handle must not be lost.
int releaseFile(const char*, fuse_file_info* info) {
    MountedFolder::Served& here = served();
    std::lock_guard hold(here.lock);
    here.folder.release(handleOf(info));
    for (auto& failure : here.folder.takeStoreFailures())
        here.storeFailures.push_back(std::move(failure));
    here.openFiles.store(here.folder.openHandles());
    here.changes.store(here.folder.changeCount());
    return 0;
}

int unlinkFile(const char* path) {
    return withFolder([&](SafeFolder& f) { return f.unlink(nameOf(path)); });
}

int renameFile(const char* from, const char* to, unsigned flags) {
    return withFolder([&](SafeFolder& f) { return f.rename(nameOf(from), nameOf(to), flags); });
}

// One flat folder: no sub-folders, links or special files.
int refuseFolder(const char*, mode_t) {
    return -EPERM;
}
int refuseNode(const char*, mode_t, dev_t) {
    return -EPERM;
}
int refuseLink(const char*, const char*) {
    return -EPERM;
}
int noFolderToRemove(const char* path) {
    return isRoot(path) ? -EBUSY : -ENOTDIR;
}

// Modes, owners and times are not stored: accepted and left as they are, so
// that copying with -p or touching a file does not fail.
int ignoreMode(const char*, mode_t, fuse_file_info*) {
    return 0;
}
int ignoreOwner(const char*, uid_t, gid_t, fuse_file_info*) {
    return 0;
}
int ignoreTimes(const char*, const timespec*, fuse_file_info*) {
    return 0;
}

int folderCapacity(const char*, struct statvfs* capacity) {
    std::memset(capacity, 0, sizeof *capacity);
    capacity->f_bsize = 4096;
    capacity->f_frsize = 4096;
    capacity->f_blocks = ContainerLimit / 4096;
    capacity->f_namemax = FolderNameLimit;
    return 0;
}

} // namespace

fuse_operations folderOperations() {
    fuse_operations operations{};
    operations.init = initFolder;
    operations.getattr = getStatus;
    operations.readdir = readFolder;
    operations.open = openFile;
    operations.create = createFile;
    operations.read = readFile;
    operations.write = writeFile;
    operations.truncate = truncateFile;
    operations.fsync = syncFile;
    operations.release = releaseFile;
    operations.unlink = unlinkFile;
    operations.rename = renameFile;
    operations.mkdir = refuseFolder;
    operations.mknod = refuseNode;
    operations.symlink = refuseLink;
    operations.link = refuseLink;
    operations.rmdir = noFolderToRemove;
    operations.chmod = ignoreMode;
    operations.chown = ignoreOwner;
    operations.utimens = ignoreTimes;
    operations.statfs = folderCapacity;
    return operations;
}

} // namespace quorvane
