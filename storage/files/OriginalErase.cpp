#include "storage/files/OriginalErase.h"

#include "storage/files/FileRoutines.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane {

namespace {

std::string folderOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The part of the path after the last '/' (the whole path when it has none).
std::string nameOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

OriginalOpenResult because(OriginalCheck outcome) {
    return {outcome, 0};
}
OriginalOpenResult failedWith(int error) {
    return {OriginalCheck::Failed, error};
}

} // namespace

OriginalOpenResult openOriginalToErase(const std::string& path, const SourceSnapshot& before,
                                       std::uint64_t size, OriginalToErase& original) {
    // Overwriting through a link would destroy whatever file it points to.
    if (before.symbolicLink)
        return because(OriginalCheck::IsLink);
    if (!before.taken || before.size != size)
        return because(OriginalCheck::Changed);
    original.folder.reset(::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!original.folder)
        return errno == ENOENT ? because(OriginalCheck::Changed) : failedWith(errno);
    original.name = nameOf(path);
    // O_NOFOLLOW: a link put in the original's place since it was stored is
    // refused (ELOOP), not followed; O_NONBLOCK: a FIFO there does not hang us.
    original.file.reset(::openat(original.folder.get(), original.name.c_str(),
                                 O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!original.file)
        return errno == ENOENT || errno == ELOOP ? because(OriginalCheck::Changed)
                                                 : failedWith(errno);
    struct stat status {};
    if (::fstat(original.file.get(), &status) != 0)
        return failedWith(errno);
    if (!stillSameFile(before, snapshotOf(status)))
        return because(OriginalCheck::Changed);
    // Another name would lose its content to the overwrite, and removing this
    // name alone would leave the data on the disk.
    if (status.st_nlink > 1)
        return because(OriginalCheck::HasOtherNames);
    original.device = status.st_dev;
    original.inode = status.st_ino;
    return because(OriginalCheck::Opened);
}

OriginalEraseResult eraseAndUnlink(const OriginalToErase& original) {
    for (int pass = 0; pass < 2; ++pass)
        if (int error = SecureEraseOpenFile(original.file.get()); error != 0)
            return {OriginalErase::OverwriteFailed, error, false};
    struct stat now {};
    if (::fstatat(original.folder.get(), original.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0)
        // The name is gone already; the content was overwritten all the same.
        return {OriginalErase::Erased, 0, true};
    if (now.st_dev != original.device || now.st_ino != original.inode)
        return {OriginalErase::NameNowAnotherFile, 0, false};
    // A failed deletion is left unreported, as it always has been.
    const bool deleted = ::unlinkat(original.folder.get(), original.name.c_str(), 0) == 0;
    return {OriginalErase::Erased, 0, deleted};
}

} // namespace quorvane
