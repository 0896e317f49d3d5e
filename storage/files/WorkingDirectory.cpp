#include "storage/files/WorkingDirectory.h"

#include "storage/files/FileIdentity.h"
#include "storage/files/SafeFileLock.h"
#include "storage/files/UnfinishedFiles.h"
#include "storage/files/UniqueFd.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <random>
#include <stdio.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace quorvane {

namespace {

[[noreturn]] void refuse(int error, const std::string& why) {
    throw std::system_error(error, std::generic_category(), why);
}

// A folder where others may create files but cannot rename or remove ours:
// either nobody else may write it, or it has the sticky bit (as /tmp has).
bool othersCannotSwapEntries(const std::filesystem::path& folder) {
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
        return false;
    const bool othersMayWrite = (status.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    return !othersMayWrite || (status.st_mode & S_ISVTX) != 0;
}

} // namespace

std::filesystem::path workingFolderParent() {
    const char* tmpdir = std::getenv("TMPDIR");
    std::filesystem::path temp = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
    struct stat status {};
    // A folder that is not there fails at mkdtemp with the system's own reason.
    if (::stat(temp.c_str(), &status) != 0 || othersCannotSwapEntries(temp))
        return temp;
    // The per-user runtime folder belongs to us alone.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime == '/' && othersCannotSwapEntries(runtime))
        return runtime;
    throw UnsafeTemporaryDirectory(
        EACCES, std::generic_category(),
        "the temporary directory " + temp.string() +
            " may be written by other users and lacks the sticky bit, so a private folder in "
            "it could be swapped; set TMPDIR to a folder of your own");
}

namespace {

// Attempts at making the folder: a sweep by another process at start-up may
// take a staging folder away in the moment before its lock is held.
constexpr int MakeAttempts = 4;
// Attempts at a final name nobody uses yet.
constexpr int NameAttempts = 16;

std::string randomSuffix() {
    static constexpr char Letters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::string suffix;
    for (std::size_t i = 0; i < WorkingFolderSuffixLength; ++i)
        suffix += Letters[random() % (sizeof Letters - 1)];
    return suffix;
}

// Gives the staging folder a final name that nothing has yet. Returns 0 or
// the errno of the failure; ENOENT when the staging folder was swept away.
int renameToFinal(const std::filesystem::path& staging, std::filesystem::path& finalName) {
    const std::string made = staging.filename().string();
    std::string suffix = made.substr(made.size() - WorkingFolderSuffixLength);
    for (int attempt = 0; attempt < NameAttempts; ++attempt, suffix = randomSuffix()) {
        finalName = staging.parent_path() / (WorkingFolderPrefix + suffix);
        if (::renameat2(AT_FDCWD, staging.c_str(), AT_FDCWD, finalName.c_str(), RENAME_NOREPLACE) ==
            0)
            return 0;
        if (errno == EEXIST)
            continue;
        if (errno != EINVAL)
            return errno;
        // A file system without the flag: a plain rename, to a name that is
        // free a moment before (it could only replace an empty folder).
        struct stat status {};
        if (::lstat(finalName.c_str(), &status) == 0)
            continue;
        return ::rename(staging.c_str(), finalName.c_str()) == 0 ? 0 : errno;
    }
    return EEXIST;
}

} // namespace

namespace {

// Removes everything in the folder held by fd, folders in it included, the
// lock excepted: it goes last, so that a folder never looks unlocked while
// it still holds anything.
void emptyFolder(int fd, int depth = 0) {
    const FolderListing folder = listFolder(fd);
    if (!folder)
        return;
    while (const dirent* entry = ::readdir(folder.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || (depth == 0 && name == WorkingFolderLock) ||
            ::unlinkat(fd, name.c_str(), 0) == 0)
            continue;
        // Deeper than the working folder ever gets (it holds plain files).
        const UniqueFd child(
            depth < 8 ? ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                      : -1);
        if (child) {
            emptyFolder(child.get(), depth + 1);
            ::unlinkat(fd, name.c_str(), AT_REMOVEDIR);
        }
    }
}

// Removes the folder held by fd with everything in it, its lock last, and its
// name only while that still names the folder held.
void removeHeldFolder(int fd, const std::filesystem::path& path) {
    emptyFolder(fd);
    ::unlinkat(fd, WorkingFolderLock, 0);
    const std::optional<FileIdentity> held = identityOf(fd);
    struct stat atName {};
    if (held && ::lstat(path.c_str(), &atName) == 0 && S_ISDIR(atName.st_mode) &&
        atName.st_dev == held->device && atName.st_ino == held->inode)
        ::rmdir(path.c_str());
}

// A staging folder of ours on its way to becoming the working folder: removed
// again on every way out, a thrown refusal included, unless it got there.
class StagingFolder {
  public:
    StagingFolder(const UniqueFd& folder, std::filesystem::path path)
        : folder_(folder), path_(std::move(path)) {}
    ~StagingFolder() {
        if (!committed_)
            removeHeldFolder(folder_.get(), path_);
    }
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;

    void commit() { committed_ = true; }

  private:
    const UniqueFd& folder_;
    std::filesystem::path path_;
    bool committed_ = false;
};

} // namespace

WorkingDirectory::WorkingDirectory() {
    const std::filesystem::path parent = workingFolderParent();
    for (int attempt = 1; !makeLockedFolder(parent); ++attempt)
        if (attempt == MakeAttempts)
            refuse(EAGAIN, "cannot create working directory");
}

// Makes the folder under a staging name, locks it and only then gives it its
// final name, so that nobody ever sees a final folder whose lock is free while
// we live. False when a sweep took the staging folder away meanwhile (a new
// attempt is then worth making); throws on any other failure.
bool WorkingDirectory::makeLockedFolder(const std::filesystem::path& parent) {
    std::string pattern = (parent / (std::string(StagingFolderPrefix) + "XXXXXX")).string();
    // mkdtemp makes the directory with mode 0700: no other user can look in.
    if (::mkdtemp(pattern.data()) == nullptr)
        refuse(errno, "cannot create working directory");
    UniqueFd folder(::open(pattern.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status {};
    const bool ours = folder && ::fstat(folder.get(), &status) == 0 &&
                      status.st_uid == ::geteuid() && (status.st_mode & 07777) == 0700;
    if (!ours)
        refuse(folder ? EPERM : errno,
               "the working directory " + pattern + " was replaced as it was made");
    // Declared before the guard, so that the lock is let go only once the
    // folder it guards is gone.
    UniqueFd lock;
    StagingFolder staging(folder, pattern);
    lock.reset(::openat(folder.get(), WorkingFolderLock,
                        O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    int error = lock ? 0 : errno;
    // A lock that someone else holds, or a lock file no longer in the folder,
    // means a sweep is removing the staging folder under us.
    if (error == 0 && ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0 && !locksUnsupported(errno))
        error = errno == EWOULDBLOCK ? ENOENT : errno;
    struct stat lockStatus {};
    if (error == 0 && (::fstat(lock.get(), &lockStatus) != 0 || lockStatus.st_nlink == 0))
        error = ENOENT;
    std::filesystem::path finalName;
    if (error == 0)
        error = renameToFinal(pattern, finalName);
    if (error == 0 && (::fstat(folder.get(), &status) != 0 || status.st_nlink == 0))
        error = ENOENT;
    if (error == ENOENT)
        return false;
    if (error != 0)
        refuse(error, "cannot create working directory");
    staging.commit();
    path_ = finalName;
    fd_ = std::move(folder);
    lockFd_ = std::move(lock);
    // Files half made beside their places are noted here, where the sweep
    // after a kill finds them.
    keepNotesIn(fd_.get());
    return true;
}

WorkingDirectory::~WorkingDirectory() {
    remove();
}

void WorkingDirectory::remove() {
    if (!fd_)
        return;
    stopKeepingNotesIn(fd_.get());
    removeHeldFolder(fd_.get(), path_);
    lockFd_.reset();
    fd_.reset();
}

std::filesystem::path WorkingDirectory::anchored() const {
    return descriptorPath(fd_.get());
}

} // namespace quorvane
