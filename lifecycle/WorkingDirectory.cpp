#include "lifecycle/WorkingDirectory.h"

#include "storage/FileIdentity.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <string>
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

std::filesystem::path chooseParent() {
    const char* tmpdir = std::getenv("TMPDIR");
    const std::filesystem::path temp = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
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

// Removes everything in the folder held by fd, folders in it included.
void emptyFolder(int fd, int depth = 0) {
    const int listing = ::dup(fd);
    DIR* folder = listing < 0 ? nullptr : ::fdopendir(listing);
    if (folder == nullptr) {
        if (listing >= 0)
            ::close(listing);
        return;
    }
    while (const dirent* entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || ::unlinkat(fd, name.c_str(), 0) == 0)
            continue;
        // Deeper than the working folder ever gets (it holds plain files).
        const int child =
            depth < 8 ? ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                      : -1;
        if (child >= 0) {
            emptyFolder(child, depth + 1);
            ::close(child);
            ::unlinkat(fd, name.c_str(), AT_REMOVEDIR);
        }
    }
    ::closedir(folder);
}

} // namespace

bool createPrivateFile(const std::filesystem::path& path) {
    // O_NOFOLLOW: a link planted under the name must not redirect plaintext.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    // An existing file keeps its old mode on open; narrow it as well.
    bool narrowed = ::fchmod(fd, 0600) == 0;
    return ::close(fd) == 0 && narrowed;
}

WorkingDirectory::WorkingDirectory() {
    std::string pattern = (chooseParent() / "quorvane-XXXXXX").string();
    // mkdtemp makes the directory with mode 0700: no other user can look in.
    if (::mkdtemp(pattern.data()) == nullptr)
        refuse(errno, "cannot create working directory");
    path_ = pattern;
    fd_ = ::open(pattern.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat status {};
    const bool ours = fd_ >= 0 && ::fstat(fd_, &status) == 0 && status.st_uid == ::geteuid() &&
                      (status.st_mode & 07777) == 0700;
    if (!ours) {
        const int error = fd_ < 0 ? errno : EPERM;
        if (fd_ >= 0)
            ::close(fd_);
        refuse(error, "the working directory " + pattern + " was replaced as it was made");
    }
}

WorkingDirectory::~WorkingDirectory() {
    emptyFolder(fd_);
    // The name goes only while it still names our folder.
    const std::optional<FileIdentity> held = identityOf(fd_);
    struct stat atName {};
    if (held && ::lstat(path_.c_str(), &atName) == 0 && S_ISDIR(atName.st_mode) &&
        atName.st_dev == held->device && atName.st_ino == held->inode)
        ::rmdir(path_.c_str());
    ::close(fd_);
}

std::filesystem::path WorkingDirectory::anchored() const {
    return descriptorPath(fd_);
}

} // namespace quorvane
