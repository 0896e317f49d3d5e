#include "mount/FolderOperations.h"

#include "mount/FolderNames.h"
#include "mount/MountedFolder.h"
#include "storage/format/ContainerIndex.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <utility>
#include <vector>

namespace quorvane {

namespace {

MountedFolder::Served& served() {
    return *static_cast<MountedFolder::Served*>(fuse_get_context()->private_data);
}

// Runs one request's work on the folder under the session's lock. The
// window may hold the lock for a whole command; past FolderLockWait the
// request fails (EBUSY) rather than wait for a command that may itself be
// waiting for this folder. While the command waits for the user (a question,
// a picker that may look into this very folder), the request is served at
// once as a guest, with the entries held as they are: a store waits for the
// command's end, and what cannot wait (a rename, a removal) is refused with
// EBUSY at once. What follows a request (the list, the timed save) is the
// serving loop's one step after it, not the handler's.
template <typename Work> auto withFolder(Work&& work) -> decltype(work(served().folder)) {
    MountedFolder::Served& here = served();
    const SessionLock::Turn turn = here.lock.takeTurn(FolderLockWait);
    if (turn == SessionLock::Turn::None)
        return -EBUSY;
    here.folder.holdEntries(turn == SessionLock::Turn::Guest);
    auto result = work(here.folder);
    here.folder.holdEntries(false);
    here.lock.endTurn(turn);
    return result;
}

// The same for what needs the entries themselves, never as a guest (fsync:
// the file stored and the safe written before it returns).
template <typename Work> auto withFolderHeld(Work&& work) -> decltype(work(served().folder)) {
    MountedFolder::Served& here = served();
    std::unique_lock hold(here.lock, std::defer_lock);
    if (!hold.try_lock_for(FolderLockWait))
        return -EBUSY;
    return work(here.folder);
}

// Paths are "/" or "/NAME", or "/FOLDER/NAME" where the safe keeps a tree:
// the name is the path below the top.
std::string nameOf(const char* path) {
    return path != nullptr && path[0] == '/' ? std::string(path + 1) : std::string();
}

bool isRoot(const char* path) {
    return path != nullptr && std::strcmp(path, "/") == 0;
}

SafeFolder::Handle* handleOf(const fuse_file_info* info) {
    // fh is the slot libfuse keeps for the filesystem's own handle: the
    // pointer that open() put there.
    return info == nullptr
               ? nullptr
               : reinterpret_cast<SafeFolder::Handle*>( // NOLINT(performance-no-int-to-ptr)
                     info->fh);
}

// The name a call is about: its path, or the name its handle was opened
// under when the kernel gives no path (a file deleted while open).
std::string nameFor(const char* path, const fuse_file_info* info) {
    if (path != nullptr)
        return nameOf(path);
    const SafeFolder::Handle* handle = handleOf(info);
    return handle != nullptr ? handle->name : std::string();
}

int openWith(const char* path, fuse_file_info* info, bool create) {
    SafeFolder::Handle* handle = nullptr;
    const int result = withFolder(
        [&](SafeFolder& f) { return f.open(nameOf(path), info->flags, create, handle); });
    if (result < 0)
        return result;
    info->fh = reinterpret_cast<std::uint64_t>(handle);
    return 0;
}

// Named after their slots in fuse_operations, as libfuse's examples are.
namespace handler {

void* init(fuse_conn_info* connection, fuse_config* config) {
    // Names and attributes are kept by the kernel for a second: without it
    // every stat of a `find` or `git status` is a round trip to this one
    // serving thread. The folder's own changes pass through the kernel, which
    // follows them (a growing file's size included); the window's are told
    // to it (invalidateKernelView), for every name it may hold. A name the
    // kernel was told is missing is not kept: one the window has just added
    // is found at once, before any notice could reach the kernel.
    config->entry_timeout = 1;
    config->attr_timeout = 1;
    config->negative_timeout = 0;
    // The page cache: read-ahead, shared maps (image viewers, SQLite's WAL)
    // and large writes. Dropped at each open (kernel_cache off), and told
    // when the window changes the entries.
    config->direct_io = 0;
    config->kernel_cache = 0;
    config->hard_remove = 1; // no ".fuse_hidden" files: a deleted open file is simply gone
    config->nullpath_ok = 1;
    config->use_ino = 1; // the numbers getattr gives (inodeOf)
    if ((connection->capable & FUSE_CAP_ATOMIC_O_TRUNC) != 0)
        connection->want |= FUSE_CAP_ATOMIC_O_TRUNC;
    connection->max_write = TransferSize;
    connection->max_readahead = TransferSize;
    return fuse_get_context()->private_data;
}

int getattr(const char* path, struct stat* status, fuse_file_info* info) {
    std::memset(status, 0, sizeof *status);
    status->st_uid = ::getuid();
    status->st_gid = ::getgid();
    if (isRoot(path)) {
        status->st_ino = 1;
        status->st_mode = S_IFDIR | 0700;
        status->st_nlink = 2;
        status->st_mtim = served().folder.topModified();
        status->st_atim = status->st_ctim = status->st_mtim;
        return 0;
    }
    SafeFolder::Status file;
    const std::string name = nameFor(path, info);
    if (const int failed = withFolder([&](SafeFolder& f) { return f.status(name, file); });
        failed < 0)
        return failed;
    if (path != nullptr)
        served().answered.insert(name);
    status->st_ino = static_cast<ino_t>(inodeOf(name));
    status->st_mode = (file.folder ? S_IFDIR : S_IFREG) | (file.mode & 0700);
    status->st_nlink = file.folder ? 2 : 1;
    status->st_size = static_cast<off_t>(file.size);
    status->st_blksize = TransferSize;
    status->st_blocks = static_cast<blkcnt_t>((file.size + 511) / 512);
    status->st_mtim.tv_sec = file.modified;
    status->st_mtim.tv_nsec = file.modifiedNanoseconds;
    status->st_atim = status->st_ctim = status->st_mtim;
    return 0;
}

// A folder's listing is asked for by its handle (nullpath_ok gives no path):
// the handle keeps the folder's name, "" for the top.
int opendir(const char* path, fuse_file_info* info) {
    info->fh = reinterpret_cast<std::uint64_t>(new std::string(isRoot(path) ? "" : nameOf(path)));
    return 0;
}

int releasedir(const char*, fuse_file_info* info) {
    delete reinterpret_cast<std::string*>(info->fh); // NOLINT(performance-no-int-to-ptr)
    return 0;
}

int readdir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info* info,
            fuse_readdir_flags) {
    const auto* opened =
        info != nullptr && info->fh != 0
            ? reinterpret_cast<const std::string*>(info->fh) // NOLINT(performance-no-int-to-ptr)
            : nullptr;
    const std::string folder = path != nullptr     ? (isRoot(path) ? std::string() : nameOf(path))
                               : opened != nullptr ? *opened
                                                   : std::string();
    std::vector<std::string> names;
    if (const int failed = withFolder([&](SafeFolder& f) {
            if (folder.empty()) {
                names = f.names();
                return 0;
            }
            SafeFolder::Status status;
            const int found = f.status(folder, status);
            if (found < 0 || !status.folder)
                return found < 0 ? found : -ENOTDIR;
            names = f.namesIn(folder);
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

int open(const char* path, fuse_file_info* info) {
    return openWith(path, info, false);
}

int create(const char* path, mode_t mode, fuse_file_info* info) {
    if (!S_ISREG(mode))
        return -EPERM;
    return openWith(path, info, true);
}

int read(const char*, char* into, size_t count, off_t offset, fuse_file_info* info) {
    return static_cast<int>(withFolder([&](SafeFolder& f) {
        return f.read(*handleOf(info), static_cast<std::uint64_t>(offset), into, count);
    }));
}

int write(const char*, const char* from, size_t count, off_t offset, fuse_file_info* info) {
    return static_cast<int>(withFolder([&](SafeFolder& f) {
        return f.write(*handleOf(info), static_cast<std::uint64_t>(offset), from, count);
    }));
}

int truncate(const char* path, off_t size, fuse_file_info* info) {
    if (size < 0)
        return -EINVAL;
    const std::string name = nameFor(path, info);
    return withFolder([&](SafeFolder& f) {
        return f.truncate(name, handleOf(info), static_cast<std::uint64_t>(size));
    });
}

int flush(const char*, fuse_file_info* info) {
    return withFolder([&](SafeFolder& f) { return f.flush(*handleOf(info)); });
}

// Returns once the safe file holds the file: editors, SQLite and git take a
// successful fsync for "on disk".
int fsync(const char*, int, fuse_file_info* info) {
    return withFolderHeld([&](SafeFolder& f) {
        const int stored = f.sync(*handleOf(info));
        return stored < 0 ? stored : served().saveNow();
    });
}

// Never waits: the window may hold the lock while it asks the user something,
// and nobody waits for a release (close() has returned). What cannot be done
// now the serving loop does once the lock is free.
int release(const char*, fuse_file_info* info) {
    MountedFolder::Served& here = served();
    std::unique_lock hold(here.lock, std::try_to_lock);
    if (hold.owns_lock())
        here.folder.release(handleOf(info));
    else
        here.deferredReleases.push_back(handleOf(info));
    return 0;
}

int unlink(const char* path) {
    const int result = withFolder([&](SafeFolder& f) { return f.unlink(nameOf(path)); });
    if (result == 0)
        served().answered.erase(nameOf(path));
    return result;
}

// The kernel keeps the moved name in its cache without asking for it.
int rename(const char* from, const char* to, unsigned flags) {
    const int result =
        withFolder([&](SafeFolder& f) { return f.rename(nameOf(from), nameOf(to), flags); });
    if (result == 0)
        served().answered.insert(nameOf(to));
    return result;
}

// Sub-folders where the safe keeps a tree; a flat safe refuses them (and
// says why in the log). No links or special files.
int mkdir(const char* path, mode_t mode) {
    MountedFolder::Served& here = served();
    const int made = withFolder([&](SafeFolder& f) { return f.makeFolder(nameOf(path), mode); });
    if (made == -EPERM)
        here.folderRefused = true;
    return made;
}
int mknod(const char*, mode_t, dev_t) {
    return -EPERM;
}
int symlink(const char*, const char*) {
    return -EPERM;
}
int link(const char*, const char*) {
    return -EPERM;
}
int rmdir(const char* path) {
    if (isRoot(path))
        return -EBUSY;
    return withFolder(
        [&](SafeFolder& f) { return f.keepsTree() ? f.removeFolder(nameOf(path)) : -ENOTDIR; });
}

// A time as utimensat(2) gives it: the time itself, now, or left alone.
std::optional<std::pair<std::time_t, long>> timeAsked(const timespec& time) {
    if (time.tv_nsec == UTIME_OMIT)
        return std::nullopt;
    timespec now = time;
    if (time.tv_nsec == UTIME_NOW)
        ::clock_gettime(CLOCK_REALTIME, &now);
    return std::pair{now.tv_sec, now.tv_nsec};
}

// Owners are not stored: accepted and left as they are. Modes (the owner's
// bits) and modification times are kept where the safe keeps a tree, and
// accepted without effect where it does not, so that copying with -p or
// touching a file does not fail.
int chmod(const char* path, mode_t mode, fuse_file_info* info) {
    const std::string name = nameFor(path, info);
    return withFolder([&](SafeFolder& f) {
        return f.setStamp(name, handleOf(info), std::nullopt, static_cast<unsigned>(mode));
    });
}
int chown(const char*, uid_t, gid_t, fuse_file_info*) {
    return 0;
}
int utimens(const char* path, const timespec times[2], fuse_file_info* info) {
    const std::string name = nameFor(path, info);
    const auto modified = timeAsked(times[1]);
    if (!modified)
        return 0;
    return withFolder(
        [&](SafeFolder& f) { return f.setStamp(name, handleOf(info), modified, std::nullopt); });
}

// The space left is the smaller of the disk's (where the safe is written)
// and what the container can still take: programs that check for room
// before they copy must see some.
int statfs(const char*, struct statvfs* capacity) {
    MountedFolder::Served& here = served();
    struct statvfs disk {};
    if (::statvfs(here.safeFolder.c_str(), &disk) != 0)
        return -errno;
    std::uint64_t room = 0;
    if (const int failed = withFolder([&](SafeFolder& f) {
            room = f.room();
            return 0;
        });
        failed < 0)
        return failed;
    std::memset(capacity, 0, sizeof *capacity);
    constexpr std::uint64_t Block = 4096;
    const std::uint64_t diskFree = std::uint64_t{disk.f_bavail} * disk.f_frsize;
    capacity->f_bsize = Block;
    capacity->f_frsize = Block;
    capacity->f_blocks = ContainerLimit / Block;
    capacity->f_bfree = capacity->f_bavail = std::min(diskFree, room) / Block;
    capacity->f_files = capacity->f_ffree = capacity->f_favail = 0;
    capacity->f_namemax = here.folder.keepsTree() ? 255 : FolderNameLimit;
    return 0;
}

} // namespace handler

} // namespace

fuse_operations folderOperations() {
    fuse_operations operations{};
    operations.init = handler::init;
    operations.getattr = handler::getattr;
    operations.opendir = handler::opendir;
    operations.releasedir = handler::releasedir;
    operations.readdir = handler::readdir;
    operations.open = handler::open;
    operations.create = handler::create;
    operations.read = handler::read;
    operations.write = handler::write;
    operations.truncate = handler::truncate;
    operations.flush = handler::flush;
    operations.fsync = handler::fsync;
    operations.release = handler::release;
    operations.unlink = handler::unlink;
    operations.rename = handler::rename;
    operations.mkdir = handler::mkdir;
    operations.mknod = handler::mknod;
    operations.symlink = handler::symlink;
    operations.link = handler::link;
    operations.rmdir = handler::rmdir;
    operations.chmod = handler::chmod;
    operations.chown = handler::chown;
    operations.utimens = handler::utimens;
    operations.statfs = handler::statfs;
    return operations;
}

} // namespace quorvane
