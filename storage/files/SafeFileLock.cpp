#include "storage/files/SafeFileLock.h"

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane {

namespace {

// A replacement between our open and our lock sends us round again; more
// than a few in a row means something keeps swapping the file.
constexpr int MaxAttempts = 8;

} // namespace

bool locksUnsupported(int error) {
    return error == ENOLCK || error == EOPNOTSUPP || error == ENOTSUP || error == EINVAL;
}

SafeFileLock::~SafeFileLock() {
    release();
}

void SafeFileLock::release() {
    fd_.reset();
    identity_ = {};
}

void SafeFileLock::adopt(UniqueFd fd, const FileIdentity& identity) {
    fd_ = std::move(fd);
    identity_ = identity;
}

std::optional<std::filesystem::path>
SafeFileLock::movedFrom(const std::filesystem::path& path) const {
    const std::optional<FileIdentity> held = fd_ ? identityOf(fd_.get()) : std::nullopt;
    const std::optional<FileIdentity> atPath = identityAt(path);
    if (!held || (atPath && atPath->sameFile(*held)))
        return std::nullopt;
    // The file itself was moved, not its folder: a folder that is gone (a
    // drive taken away, a folder moved) is waited for, as it may come back.
    std::error_code folderError;
    if (!std::filesystem::is_directory(path.parent_path().empty() ? "." : path.parent_path(),
                                       folderError))
        return std::nullopt;
    // The kernel's name for the descriptor's file; one that was removed has
    // none that leads back to it.
    std::error_code error;
    const std::filesystem::path place =
        std::filesystem::read_symlink(descriptorPath(fd_.get()), error);
    const std::optional<FileIdentity> there = error ? std::nullopt : identityAt(place);
    if (!there || !there->sameFile(*held))
        return std::nullopt;
    return place;
}

void SafeFileLock::expectCurrent() {
    if (const auto current = identityOf(fd_.get()))
        identity_ = *current;
}

LockResult SafeFileLock::acquire(const std::filesystem::path& path) {
    release();
    for (int attempt = 0; attempt < MaxAttempts; ++attempt) {
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        if (!fd)
            return LockResult::Failed;
        struct stat status {};
        if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode))
            return LockResult::Failed;
        int result = 0;
        do
            result = ::flock(fd.get(), LOCK_EX | LOCK_NB);
        while (result != 0 && errno == EINTR);
        if (result != 0 && errno == EWOULDBLOCK)
            return LockResult::Busy;
        // A file system without flock (some network and user-space ones)
        // still lets the safe open: the check before every replacement that
        // the file is the one opened guards it there.
        if (result != 0 && !locksUnsupported(errno))
            return LockResult::Failed;
        // The holder before us may have renamed a new file over the name
        // between our open and our lock: then we hold a file nobody reads.
        const std::optional<FileIdentity> locked = identityOf(fd.get());
        const std::optional<FileIdentity> atPath = identityAt(path);
        if (locked && atPath && locked->sameFile(*atPath)) {
            // Reading goes on normally from here; O_NONBLOCK only kept a FIFO
            // planted under the name from stopping the open.
            ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
            fd_ = std::move(fd);
            identity_ = *locked;
            return LockResult::Locked;
        }
    }
    return LockResult::Failed;
}

} // namespace quorvane
