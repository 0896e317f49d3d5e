#include "storage/files/AtomicReplace.h"

#include "storage/files/DescriptorBuffer.h"
#include "storage/files/FileAttributes.h"
#include "storage/files/FreshFile.h"
#include "storage/files/SafeFileLock.h"
#include "storage/files/UniqueFd.h"

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
    const UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd || ::fsync(fd.get()) != 0) {
        error = errno;
        return false;
    }
    return true;
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

// The folder of the target, where the new safe is made: the rename that puts
// it in place cannot cross folders. O_PATH: a folder we may write but not
// list still takes the file.
UniqueFd openTargetFolder(const fs::path& target) {
    return UniqueFd(::open(target.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
}

// The new safe while it is written is a fresh file beside the target, under
// the target's name and a random suffix for the moment it needs a name.
FreshFile freshFileBeside(const UniqueFd& folder, const fs::path& target) {
    return FreshFile(folder.get(),
                     [name = target.filename().string()] { return name + "." + randomSuffix(); });
}

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

// Names the fresh file for the rename, which needs one; before that it may
// have had none.
bool named(FreshFile& fresh, std::string& reason) {
    if (const int error = fresh.nameHidden(); error != 0) {
        reason = reasonOf(error);
        return false;
    }
    return true;
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
    const UniqueFd folder = openTargetFolder(resolved);
    if (!folder) {
        reason = reasonOf(errno);
        return false;
    }
    // Made and removed again at once, by the guard.
    FreshFile probe = freshFileBeside(folder, resolved);
    if (const int error = probe.make(O_RDWR); error != 0) {
        reason = reasonOf(error);
        return false;
    }
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
    const UniqueFd folder = openTargetFolder(resolved);
    if (!folder) {
        result.reason = reasonOf(errno);
        return result;
    }
    // Removed again on every way out below, unless it took the target's place.
    FreshFile fresh = freshFileBeside(folder, resolved);
    if (const int error = fresh.make(O_RDWR); error != 0) {
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
           named(fresh, result.reason) && targetUnchanged(resolved, guard, result.reason);
    if (done) {
        if (const int error = fresh.renameTo(resolved.filename()); error != 0) {
            result.reason = reasonOf(error);
            done = false;
        }
    }
    if (!done)
        return result;
    // From here the target holds the new content: whatever follows is reported
    // but is no failure, or a caller would think the old file still stood.
    result.ok = true;
    result.identity = identityOf(fresh.fd()).value_or(FileIdentity{});
    if (guard.lockFresh)
        result.lockedFd = fresh.takeFd();
    else if (const int error = fresh.closeFd(); error != 0)
        result.reason = reasonOf(error);
    if (int error = 0; !syncFolder(resolved.parent_path(), error))
        result.reason = reasonOf(error);
    return result;
}

} // namespace quorvane
