#include "storage/files/AtomicReplace.h"

#include "storage/files/FileAttributes.h"
#include "storage/files/SafeFileLock.h"
#include "storage/files/UnfinishedFiles.h"
#include "storage/workingcopy/DescriptorBuffer.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <random>
#include <system_error>
#include <utility>
#include <vector>

namespace quorvane {
namespace {

namespace fs = std::filesystem;

constexpr int MaxLinkDepth = 40;

std::string reasonOf(int error) {
    return std::strerror(error);
}

// Follows symbolic links by hand, so that a link whose target does not exist
// yet still leads to that target rather than being replaced itself.
fs::path resolveTarget(const fs::path& target, std::error_code& error) {
    if (fs::exists(target, error))
        return fs::canonical(target, error);
    // Absolute first: the folder of a bare file name must be a real path that
    // can be opened for its fsync.
    fs::path path = fs::absolute(target, error);
    if (error)
        return {};
    for (int depth = 0; depth < MaxLinkDepth && fs::is_symlink(fs::symlink_status(path)); ++depth) {
        const fs::path link = fs::read_symlink(path, error);
        if (error)
            return {};
        path = link.is_absolute() ? link : path.parent_path() / link;
    }
    error.clear();
    return fs::weakly_canonical(path, error);
}

struct FileOwnership {
    mode_t mode = 0600;
    std::optional<uid_t> owner;
    std::optional<gid_t> group;
    ExtendedAttributes attributes;
};

FileOwnership ownershipOf(const fs::path& path) {
    FileOwnership ownership;
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0) {
        ownership.mode = status.st_mode & 07777;
        ownership.owner = status.st_uid;
        ownership.group = status.st_gid;
        ownership.attributes = attributesAt(path.string());
    }
    return ownership;
}

// Owner and group as the old file had them, as far as the saver may set them:
// only root may give a file away, but any member of the file's group may give
// the file that group, which is what keeps a safe in a shared folder usable by
// the others in it.
void keepOwnerAndGroup(int fd, const FileOwnership& ownership, AccessKept& kept) {
    struct stat fresh {};
    if (::fstat(fd, &fresh) != 0)
        return;
    if (fresh.st_uid != *ownership.owner || fresh.st_gid != *ownership.group) {
        if (::fchown(fd, *ownership.owner, *ownership.group) != 0 &&
            fresh.st_gid != *ownership.group &&
            ::fchown(fd, static_cast<uid_t>(-1), *ownership.group) != 0) {
            // Not ours to give: said below.
        }
        ::fstat(fd, &fresh);
    }
    kept.ownerWas = *ownership.owner;
    kept.groupWas = *ownership.group;
    kept.ownerNow = fresh.st_uid;
    kept.groupNow = fresh.st_gid;
    kept.owner = fresh.st_uid == *ownership.owner;
    kept.group = fresh.st_gid == *ownership.group;
}

// The fresh file holds what the old one allowed, no more: its owner and group
// where we may set them, its access ACL and other attributes, its mode. A group
// that could not be kept is one that had no access before, so it gets none;
// without the ACL the users and groups it named get none, and the file's group
// only what the ACL's own group entry gave it, not the mask that the mode's
// group bits stand for under an ACL.
bool applyOwnership(int fd, const FileOwnership& ownership, AccessKept& kept, int& error) {
    mode_t mode = ownership.mode;
    if (ownership.owner) {
        keepOwnerAndGroup(fd, ownership, kept);
        ExtendedAttributes attributes = ownership.attributes;
        const std::string* acl = ownership.attributes.find(AccessAclAttribute);
        if (!kept.group) {
            for (auto& [name, value] : attributes.items)
                if (name == AccessAclAttribute)
                    value = withOwningGroupBits(value, 0);
            if (acl == nullptr)
                mode &= ~static_cast<mode_t>(070);
        }
        const AttributesCopied copied = copyAttributes(fd, attributes, true);
        kept.accessListError = copied.accessAclError;
        kept.accessList = copied.accessAclError == 0;
        kept.attributesError = copied.othersError;
        kept.attributes = copied.othersError == 0;
        if (!kept.accessList && acl != nullptr) {
            const mode_t groupBits = kept.group ? aclOwningGroupBits(*acl).value_or(0) : 0;
            mode = (mode & ~static_cast<mode_t>(070)) | (mode & (groupBits << 3));
        }
    }
    if (::fchmod(fd, mode) != 0) {
        error = errno;
        return false;
    }
    return true;
}

bool syncFolder(const fs::path& folder, int& error) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return false;
    }
    const bool synced = ::fsync(fd) == 0;
    if (!synced)
        error = errno;
    ::close(fd);
    return synced;
}

std::string randomSuffix() {
    static constexpr char Letters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::string suffix;
    for (int i = 0; i < 6; ++i)
        suffix += Letters[random() % (sizeof Letters - 1)];
    return suffix;
}

// The new safe while it is written. Where the file system allows, it has no
// name at all (O_TMPFILE) until it is complete and checked: a process killed
// in the middle (SIGKILL, a crash, the power) leaves nothing beside the safe,
// and nobody has to guess later which file there is clutter. It gets a name
// only for the moment before the rename. Elsewhere it is a named file from
// the start, as any save made before. Either way a name is noted as
// unfinished, so that a process stopped by a signal removes it.
class FreshFile {
  public:
    FreshFile() = default;
    ~FreshFile() {
        if (fd_ >= 0)
            ::close(fd_);
        if (folder_ >= 0)
            ::close(folder_);
    }
    FreshFile(const FreshFile&) = delete;
    FreshFile& operator=(const FreshFile&) = delete;

    bool make(const fs::path& target, int& error) {
        target_ = target;
        // O_PATH: a folder we may write but not list still takes the file.
        folder_ = ::open(target.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (folder_ < 0) {
            error = errno;
            return false;
        }
        fd_ = ::openat(folder_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd_ >= 0)
            return true;
        return named(
            [&](const char* name) {
                fd_ = note_.create(folder_, name,
                                   O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
                return fd_ >= 0;
            },
            error);
    }

    // Gives an unnamed file a name beside the target, ready for the rename.
    bool name(std::string& reason) {
        int error = 0;
        if (!path_.empty() ||
            named([&](const char* name) { return note_.link(fd_, folder_, name); }, error))
            return true;
        reason = reasonOf(error);
        return false;
    }

    void discard() {
        if (!path_.empty())
            ::unlink(path_.c_str());
        note_.forget();
    }
    void renamed() { note_.forget(); }

    int fd() const { return fd_; }
    const fs::path& path() const { return path_; }
    // Hands the descriptor over: the caller closes it.
    int release() { return std::exchange(fd_, -1); }

  private:
    // Tries a few unused names target.XXXXXX with attempt until one is taken.
    bool named(const std::function<bool(const char*)>& attempt, int& error) {
        for (int tries = 0; tries < 100; ++tries) {
            const std::string name = target_.filename().string() + "." + randomSuffix();
            if (attempt(name.c_str())) {
                path_ = target_.parent_path() / name;
                return true;
            }
            if (errno != EEXIST)
                break;
        }
        error = errno;
        return false;
    }

    fs::path target_;
    fs::path path_; // empty while the file has no name
    int folder_ = -1;
    int fd_ = -1;
    UnfinishedFile note_;
};

// Writes the content and makes it durable, then lets the guard read it back
// from the disk. False with a reason on any failure.
bool fillFreshFile(int fd, const std::function<bool(std::ostream&, std::string&)>& writeContent,
                   const FileOwnership& ownership, const ReplaceGuard& guard, AccessKept& kept,
                   std::string& reason) {
    DescriptorOutputBuffer buffer(fd);
    std::ostream out(&buffer);
    std::string message;
    const bool written = writeContent(out, message);
    out.flush();
    if (!out) {
        reason = reasonOf(buffer.lastError() != 0 ? buffer.lastError() : EIO);
        return false;
    }
    if (!written) {
        reason = message;
        return false;
    }
    int error = 0;
    if (!applyOwnership(fd, ownership, kept, error)) {
        reason = reasonOf(error);
        return false;
    }
    if (::fsync(fd) != 0) {
        reason = reasonOf(errno);
        return false;
    }
    if (!guard.verify)
        return true;
    // Written back and clean now: dropping the pages makes the check read
    // what the disk holds rather than what we just handed the kernel.
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    if (::lseek(fd, 0, SEEK_SET) != 0 || !guard.verify(fd, reason)) {
        if (reason.empty())
            reason = reasonOf(errno);
        return false;
    }
    return true;
}

// The file at the target must still be the one the caller knows: another
// program (one that ignores our lock, a sync tool, a copy) may have put its
// own content there, which a rename would throw away unseen. A target that is
// gone loses nothing by being written anew.
bool targetUnchanged(const fs::path& target, const ReplaceGuard& guard, std::string& reason) {
    if (!guard.expected)
        return true;
    const std::optional<FileIdentity> now = identityAt(target);
    if (!now && errno == ENOENT)
        return true;
    if (now && *now == *guard.expected)
        return true;
    reason = now ? TargetChangedReason : reasonOf(errno);
    return false;
}

bool lockFreshFile(int fd, std::string& reason) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 || locksUnsupported(errno))
        return true;
    reason = reasonOf(errno);
    return false;
}

} // namespace

bool canReplaceFileAt(const std::filesystem::path& target, std::string& reason) {
    std::error_code resolveError;
    const fs::path resolved = resolveTarget(target, resolveError);
    if (resolveError || resolved.filename().empty() || fs::is_directory(resolved)) {
        reason = resolveError ? resolveError.message() : reasonOf(EISDIR);
        return false;
    }
    int error = 0;
    FreshFile probe;
    if (!probe.make(resolved, error)) {
        reason = reasonOf(error);
        return false;
    }
    probe.discard();
    return true;
}

ReplaceResult replaceFileAtomically(
    const std::filesystem::path& target,
    const std::function<bool(std::ostream& out, std::string& message)>& writeContent,
    const ReplaceGuard& guard) {
    ReplaceResult result;
    std::error_code resolveError;
    const fs::path resolved = resolveTarget(target, resolveError);
    if (resolveError || resolved.filename().empty()) {
        result.reason = resolveError ? resolveError.message() : reasonOf(EISDIR);
        return result;
    }
    const FileOwnership ownership = ownershipOf(resolved);
    int error = 0;
    FreshFile fresh;
    if (!fresh.make(resolved, error)) {
        result.reason = reasonOf(error);
        return result;
    }
    bool done = false;
    try {
        done =
            fillFreshFile(fresh.fd(), writeContent, ownership, guard, result.access, result.reason);
    } catch (const std::exception& failure) {
        result.reason = failure.what();
    }
    done = done && (!guard.lockFresh || lockFreshFile(fresh.fd(), result.reason)) &&
           fresh.name(result.reason) && targetUnchanged(resolved, guard, result.reason);
    if (done && ::rename(fresh.path().c_str(), resolved.c_str()) != 0) {
        result.reason = reasonOf(errno);
        done = false;
    }
    if (!done) {
        fresh.discard();
        return result;
    }
    fresh.renamed();
    // From here the target holds the new content: whatever follows is reported
    // but is no failure, or a caller would think the old file still stood.
    result.ok = true;
    result.identity = identityOf(fresh.fd()).value_or(FileIdentity{});
    if (guard.lockFresh)
        result.lockedFd = fresh.release();
    else if (::close(fresh.release()) != 0)
        result.reason = reasonOf(errno);
    if (!syncFolder(resolved.parent_path(), error))
        result.reason = reasonOf(error);
    return result;
}

} // namespace quorvane
