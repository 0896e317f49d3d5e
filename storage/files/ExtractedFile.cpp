#include "storage/files/ExtractedFile.h"

#include "storage/files/FdOutputBuffer.h"
#include "storage/files/FileAttributes.h"
#include "storage/files/FileIdentity.h"
#include "storage/files/FreshFile.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane {

ExtractFolder::ExtractFolder(const std::string& path, const std::string& safePath)
    : fd_(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (!fd_)
        openError_ = errno;
    // Links followed: a safe opened through a link is the file it points to.
    struct stat safe {};
    if (!safePath.empty() && ::stat(safePath.c_str(), &safe) == 0) {
        safeKnown_ = true;
        safeDevice_ = safe.st_dev;
        safeInode_ = safe.st_ino;
    }
}

ExtractFolder::ExtractFolder(UniqueFd fd, const ExtractFolder& parent)
    : fd_(std::move(fd)), safeKnown_(parent.safeKnown_), safeDevice_(parent.safeDevice_),
      safeInode_(parent.safeInode_) {}

std::unique_ptr<ExtractFolder> ExtractFolder::subFolder(const std::string& name, int& error) const {
    error = 0;
    if (!fd_ || !isPlainEntryName(name)) {
        error = !fd_ ? openError_ : EINVAL;
        return nullptr;
    }
    const bool made = ::mkdirat(fd_.get(), name.c_str(), 0700) == 0;
    if (!made && errno != EEXIST) {
        error = errno;
        return nullptr;
    }
    UniqueFd folder(
        ::openat(fd_.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder) {
        error = errno;
        return nullptr;
    }
    std::unique_ptr<ExtractFolder> sub(new ExtractFolder(std::move(folder), *this));
    sub->madeHere_ = made;
    return sub;
}

bool isPlainEntryName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

std::string numberedName(const std::string& name, int number) {
    const std::string mark = " (" + std::to_string(number) + ")";
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return name + mark;
    return name.substr(0, dot) + mark + name.substr(dot);
}

namespace {

PlacementResult refused(Placement why) {
    return {why, 0, ""};
}
PlacementResult failed(int error) {
    return {Placement::Failed, error, ""};
}
PlacementResult notWritten(int error) {
    return {Placement::NotWritten, error, ""};
}

// The umask as the kernel shows it in /proc/self/status, where it does.
std::optional<mode_t> umaskShownBySystem() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) != 0)
            continue;
        char* end = nullptr;
        const unsigned long mask = std::strtoul(line.c_str() + 6, &end, 8);
        if (end == line.c_str() + 6)
            return std::nullopt;
        return static_cast<mode_t>(mask & 0777);
    }
    return std::nullopt;
}

// umask(2) reads the mask only by setting it, for every thread at once: a file
// another thread creates in that moment (the busy step runs on a worker) would
// get the wrong mode. So it is read that way once, before main starts any
// thread, and used only where the system does not show the mask.
// noexcept: a failure this early (no memory to read /proc) ends the program anyway.
mode_t readUmaskAtStartUp() noexcept {
    if (const auto shown = umaskShownBySystem())
        return *shown;
    const mode_t mask = ::umask(077);
    ::umask(mask);
    return mask;
}

const mode_t umaskAtStartUp = readUmaskAtStartUp();

mode_t currentUmask() {
    return umaskShownBySystem().value_or(umaskAtStartUp);
}

// The mode a file created under a new name gets: what open(2) would give
// it, or, where the safe keeps the owner's bits, those bits for the owner
// and no more of them for the group and others than the umask lets through
// (a script stays executable, a read-only file stays read-only for all).
mode_t newFileMode(std::optional<mode_t> ownerBits) {
    if (!ownerBits)
        return 0666 & ~currentUmask();
    const mode_t owner = *ownerBits & 0700;
    return owner | (((owner >> 3) | (owner >> 6)) & ~currentUmask() & 077);
}

// What the name in the folder stands for now: a refusal, or the mode the
// extracted file takes. The existing target may only be an ordinary file other
// than the open safe, which the fresh file then replaces; anything else under
// the name (a folder, a link, a FIFO) is left alone. The rename below never
// follows a link, so that check only has to give the clear reason. Under the
// safe's own name the rename would put the entry in the safe's place; another
// hard link of it may be the name the user opens it by, so both are refused.
// A file that this extraction wrote under the name is no refusal, but a
// clash: the entry goes under a free name beside it.
struct TargetCheck {
    std::optional<PlacementResult> refusal;
    mode_t mode = 0;
    bool clash = false;
    gid_t group = 0; // of the replaced file
    // The replaced file's attributes (its access ACL is what counts); none
    // for a new name.
    std::optional<ExtendedAttributes> attributes;
    bool replaces = false; // an ordinary file has the name, and the entry takes its place
};

TargetCheck checkTarget(const ExtractFolder& folder, const std::string& name, bool besideExisting,
                        std::optional<mode_t> ownerBits) {
    struct stat status {};
    if (::fstatat(folder.fd(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISREG(status.st_mode))
            return {refused(Placement::NotPlainFile), 0, false, 0, std::nullopt};
        if (folder.isTheSafe(status.st_dev, status.st_ino))
            return {refused(Placement::IsOpenSafe), 0, false, 0, std::nullopt};
        if (besideExisting || folder.wroteFile(status.st_dev, status.st_ino))
            return {std::nullopt, newFileMode(ownerBits), true, 0, std::nullopt};
        // The permission bits only: bytes from a safe made anywhere must not
        // become a set-user-id or set-group-id program. Under an ACL the
        // group bits are its mask, which alone would let the file's whole
        // group read what the ACL kept from it: the ACL goes along. The
        // owner's bits are the entry's where the safe keeps them; the group
        // and others keep what they had.
        const mode_t owner = ownerBits ? *ownerBits & 0700 : status.st_mode & 0700;
        return {std::nullopt,  static_cast<mode_t>((status.st_mode & 077) | owner),         false,
                status.st_gid, attributesAt((descriptorPath(folder.fd()) / name).string()), true};
    }
    if (errno == ENOENT)
        return {std::nullopt, newFileMode(ownerBits), false, 0, std::nullopt};
    return {failed(errno), 0, false, 0, std::nullopt};
}

// Gives the complete fresh file the first numbered name beside name that
// nothing in the folder has, without ever replacing anything: a name taken
// in the meantime is simply passed over. The name it got, or the errno.
// A number found taken stays passed over for that name: the next clash of
// the same name starts where this one ended, so that thousands of entries of
// one name cost one try each, not one per earlier entry.
int placeUnderFreeName(ExtractFolder& folder, FreshFile& fresh, const std::string& name,
                       std::string& placedAs) {
    for (int& number = folder.nextNumberFor(name); number < 100000; ++number) {
        const std::string candidate = numberedName(name, number);
        const int error = fresh.linkAs(candidate);
        if (error == 0) {
            placedAs = candidate;
            ++number;
            return 0;
        }
        if (error != EEXIST)
            return error;
    }
    return EEXIST;
}

// A hidden name nobody else uses, beside the target: process, counter and
// clock make a clash unlikely; O_EXCL (or linkat) makes it harmless.
std::string hiddenName() {
    static std::atomic<unsigned> counter{0};
    const auto tick = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    char name[80];
    std::snprintf(name, sizeof name, ".quorvane-extract-%ld-%u-%llx", static_cast<long>(::getpid()),
                  counter++, tick);
    return name;
}

// The access of the file being replaced, given to the fresh one: its group
// where the user may give it (a group that could not be kept had no access,
// so it gets none), its ACL (or none, as it had none) and its mode. Where the
// ACL cannot be set, the users and groups it named get nothing and the file's
// group only what the ACL's own group entry gave it, never the mask that the
// mode's group bits show under an ACL.
int takeAccessOf(int fd, const TargetCheck& target) {
    mode_t mode = target.mode;
    if (!target.attributes)
        return ::fchmod(fd, mode) == 0 ? 0 : errno;
    struct stat fresh {};
    const bool groupKept =
        ::fstat(fd, &fresh) == 0 &&
        (fresh.st_gid == target.group || ::fchown(fd, static_cast<uid_t>(-1), target.group) == 0);
    const std::string* acl = target.attributes->find(AccessAclAttribute);
    ExtendedAttributes onlyAcl;
    if (acl != nullptr)
        onlyAcl.items.emplace_back(AccessAclAttribute,
                                   groupKept ? *acl : withOwningGroupBits(*acl, 0));
    else if (!groupKept)
        mode &= ~static_cast<mode_t>(070);
    if (copyAttributes(fd, onlyAcl, false).accessAclError != 0 && acl != nullptr) {
        const mode_t groupBits = groupKept ? aclOwningGroupBits(*acl).value_or(0) : 0;
        mode = (mode & ~static_cast<mode_t>(070)) | (mode & (groupBits << 3));
    }
    return ::fchmod(fd, mode) == 0 ? 0 : errno;
}

// Fills the open fresh file: Placed when it is whole, else why it is not.
PlacementResult fillFreshFile(int fd, const std::function<bool(std::ostream&)>& writeContent) {
    FdOutputBuffer buffer(fd);
    std::ostream out(&buffer);
    bool contentWhole = writeContent(out);
    out.flush();
    int writeError = buffer.error();
    if (writeError == 0 && contentWhole && out.good())
        return {Placement::Placed, 0, ""};
    return writeError != 0 ? notWritten(writeError)
           : contentWhole  ? notWritten(EIO)
                           : refused(Placement::SourceUnreadable);
}

// Gives the complete file the access it keeps; 0 or errno. written: what it
// is, to know it again later. A file that replaces another takes a hidden
// name (noted, so that even a kill leaves it to the next start's sweep) and
// is closed, ready for the rename; any other stays unnamed and open until it
// is linked under its own name.
int finishFreshFile(FreshFile& fresh, const TargetCheck& target, struct stat& written) {
    int error = takeAccessOf(fresh.fd(), target);
    if (error == 0 && ::fstat(fresh.fd(), &written) != 0)
        error = errno;
    if (error != 0 || !target.replaces)
        return error;
    error = fresh.nameHidden();
    const int closeError = fresh.closeFd();
    return error != 0 ? error : closeError;
}

// Puts the finished file under name (a new name linked, an ordinary file
// replaced by a rename), or beside it under a free numbered name on a clash.
// 0 or errno.
int placeUnderName(ExtractFolder& folder, FreshFile& fresh, const std::string& name,
                   const TargetCheck& target, std::string& placedAs) {
    if (target.clash)
        return placeUnderFreeName(folder, fresh, name, placedAs);
    return target.replaces ? fresh.renameTo(name) : fresh.linkAs(name);
}

// Replaces the directory entry only: whatever the name stood for before
// keeps its content, wherever else it is linked. A name that something took
// since it was looked at is looked at once more and the file placed by what
// it stands for then.
PlacementResult putInPlace(ExtractFolder& folder, FreshFile& fresh, const std::string& name,
                           TargetCheck target, struct stat& written, bool besideExisting,
                           std::optional<mode_t> ownerBits) {
    std::string placedAs;
    int error = placeUnderName(folder, fresh, name, target, placedAs);
    if (error == EEXIST && !target.clash && !target.replaces) {
        target = checkTarget(folder, name, besideExisting, ownerBits);
        if (target.refusal)
            return *target.refusal;
        if (const int finishError = finishFreshFile(fresh, target, written); finishError != 0)
            return notWritten(finishError);
        error = placeUnderName(folder, fresh, name, target, placedAs);
    }
    if (error != 0)
        return {Placement::NotPlaced, error, ""};
    // Still open where it was linked: a failed close means bytes that never
    // got there, and the name just made is taken back.
    if (const int closeError = fresh.closeFd(); closeError != 0) {
        ::unlinkat(folder.fd(), placedAs.empty() ? name.c_str() : placedAs.c_str(), 0);
        return notWritten(closeError);
    }
    folder.noteWritten(written.st_dev, written.st_ino);
    return {Placement::Placed, 0, placedAs};
}

} // namespace

PlacementResult placeExtractedFile(ExtractFolder& folder, const std::string& name,
                                   const std::function<bool(std::ostream&)>& writeContent,
                                   bool besideExisting, std::optional<mode_t> ownerBits) {
    if (!isPlainEntryName(name))
        return refused(Placement::NameNotPlain);
    if (folder.fd() < 0)
        return failed(folder.openError());
    TargetCheck target = checkTarget(folder, name, besideExisting, ownerBits);
    if (target.refusal)
        return *target.refusal;
    // In the folder of the target, so that no link or existing file (which may
    // be a hard link to a file elsewhere) is ever written through. A cut-off
    // file must not stay behind, whatever ends the writing (an exception from
    // writeContent included): the guard removes it unless it took its place.
    FreshFile fresh(folder.fd(), hiddenName);
    if (const int error = fresh.make(O_WRONLY); error != 0)
        return failed(error);
    if (PlacementResult why = fillFreshFile(fresh.fd(), writeContent);
        why.outcome != Placement::Placed)
        return why;
    // Looked at again now that the file is complete: the name may stand for
    // something else by now, and the mode to keep is the one it has now.
    target = checkTarget(folder, name, besideExisting, ownerBits);
    if (target.refusal)
        return *target.refusal;
    struct stat written {};
    if (const int error = finishFreshFile(fresh, target, written); error != 0)
        return notWritten(error);
    return putInPlace(folder, fresh, name, std::move(target), written, besideExisting, ownerBits);
}

} // namespace quorvane
