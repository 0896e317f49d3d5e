#include "storage/files/AtomicReplace.h"

#include "storage/Failure.h"

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

Failure systemFailure(int error) {
    return Failure{error, reasonOf(error)};
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
        const AttributeCopyResult copied = copyAttributes(fd, attributes, true);
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
// from the disk. Nothing when all went well, else why.
std::optional<Failure>
fillFreshFile(int fd, const std::function<std::optional<Failure>(std::ostream&)>& writeContent,
              const FileOwnership& ownership, const ReplaceGuard& guard, AccessKept& kept) {
    DescriptorOutputBuffer buffer(fd);
    std::ostream out(&buffer);
    std::optional<Failure> notWritten = writeContent(out);
    out.flush();
    if (!out)
        return systemFailure(buffer.lastError() != 0 ? buffer.lastError() : EIO);
    if (notWritten)
        return notWritten;
    if (int error = 0; !applyOwnership(fd, ownership, kept, error))
        return systemFailure(error);
    if (::fsync(fd) != 0)
        return systemFailure(errno);
    if (!guard.verify)
        return std::nullopt;
    // Written back and clean now: dropping the pages makes the check read
    // what the disk holds rather than what we just handed the kernel.
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    if (::lseek(fd, 0, SEEK_SET) != 0)
        return systemFailure(errno);
    // A refusal that does not say why is the system's.
    std::optional<Failure> refused = guard.verify(fd);
    if (refused && refused->detail.empty())
        return systemFailure(errno);
    return refused;
}

// The file at the target must still be the one the caller knows: another
// program (one that ignores our lock, a sync tool, a copy) may have put its
// own content there, which a rename would throw away unseen. A target that is
// gone loses nothing by being written anew.
std::optional<Failure> targetChanged(const fs::path& target, const ReplaceGuard& guard) {
    if (!guard.expected)
        return std::nullopt;
    const std::optional<FileIdentity> now = identityAt(target);
    if (!now && errno == ENOENT)
        return std::nullopt;
    if (now && *now == *guard.expected)
        return std::nullopt;
    return now ? Failure{0, TargetChangedReason} : systemFailure(errno);
}

// Names the fresh file for the rename, which needs one; before that it may
// have had none.
std::optional<Failure> nameFresh(FreshFile& fresh) {
    if (const int error = fresh.nameHidden(); error != 0)
        return systemFailure(error);
    return std::nullopt;
}

std::optional<Failure> lockFreshFile(int fd) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 || locksUnsupported(errno))
        return std::nullopt;
    return systemFailure(errno);
}

} // namespace

std::optional<Failure> cannotReplaceFileAt(const std::filesystem::path& target) {
    std::error_code resolveError;
    const fs::path resolved = resolveTarget(target, resolveError);
    if (resolveError)
        return Failure{resolveError.value(), resolveError.message()};
    if (resolved.filename().empty() || fs::is_directory(resolved))
        return systemFailure(EISDIR);
    const UniqueFd folder = openTargetFolder(resolved);
    if (!folder)
        return systemFailure(errno);
    // Made and removed again at once, by the guard.
    FreshFile probe = freshFileBeside(folder, resolved);
    if (const int error = probe.make(O_RDWR); error != 0)
        return systemFailure(error);
    return std::nullopt;
}

ReplaceResult
replaceFileAtomically(const std::filesystem::path& target,
                      const std::function<std::optional<Failure>(std::ostream& out)>& writeContent,
                      const ReplaceGuard& guard) {
    ReplaceResult result;
    std::error_code resolveError;
    const fs::path resolved = resolveTarget(target, resolveError);
    if (resolveError || resolved.filename().empty()) {
        result.failure = resolveError ? Failure{resolveError.value(), resolveError.message()}
                                      : systemFailure(EISDIR);
        return result;
    }
    const FileOwnership ownership = ownershipOf(resolved);
    const UniqueFd folder = openTargetFolder(resolved);
    if (!folder) {
        result.failure = systemFailure(errno);
        return result;
    }
    // Removed again on every way out below, unless it took the target's place.
    FreshFile fresh = freshFileBeside(folder, resolved);
    if (const int error = fresh.make(O_RDWR); error != 0) {
        result.failure = systemFailure(error);
        return result;
    }
    std::optional<Failure> failure;
    try {
        failure = fillFreshFile(fresh.fd(), writeContent, ownership, guard, result.access);
    } catch (const std::exception& thrown) {
        failure = Failure{0, thrown.what()};
    }
    if (!failure && guard.lockFresh)
        failure = lockFreshFile(fresh.fd());
    if (!failure)
        failure = nameFresh(fresh);
    if (!failure)
        failure = targetChanged(resolved, guard);
    if (const int error = failure ? 0 : fresh.renameTo(resolved.filename()); error != 0)
        failure = systemFailure(error);
    if (failure) {
        result.failure = std::move(failure);
        return result;
    }
    // From here the target holds the new content: whatever follows is reported
    // but is no failure, or a caller would think the old file still stood.
    result.failure.reset();
    result.identity = identityOf(fresh.fd()).value_or(FileIdentity{});
    if (guard.lockFresh)
        result.lockedFd = fresh.takeFd();
    else if (const int error = fresh.closeFd(); error != 0)
        result.warning = reasonOf(error);
    if (int error = 0; !syncFolder(resolved.parent_path(), error))
        result.warning = reasonOf(error);
    return result;
}

} // namespace quorvane
