#include "storage/files/AbandonedFolders.h"

#include "storage/files/UnfinishedFiles.h"
#include "storage/files/UniqueFd.h"
#include "storage/files/WorkingDirectory.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quorvane {

namespace {

enum class Kind { Other, Final, Staging };

bool isSuffix(const std::string& rest) {
    if (rest.size() != WorkingFolderSuffixLength)
        return false;
    return std::ranges::all_of(
        rest, [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

Kind kindOf(const std::string& name) {
    for (const auto& [prefix, kind] : {std::pair{std::string(WorkingFolderPrefix), Kind::Final},
                                       std::pair{std::string(StagingFolderPrefix), Kind::Staging}})
        if (name.starts_with(prefix) && isSuffix(name.substr(prefix.size())))
            return kind;
    return Kind::Other;
}

bool ownedByUs(const struct stat& status) {
    return status.st_uid == ::geteuid();
}

// The names in the folder, when every one of them is a regular file of ours
// (the working folder never holds anything else); nothing otherwise, so that
// a link or a folder planted in it is never removed through.
std::optional<std::vector<std::string>> plainFilesIn(int folder) {
    const FolderListing reader = listFolder(folder);
    if (!reader)
        return std::nullopt;
    std::vector<std::string> names;
    bool plain = true;
    while (const dirent* entry = ::readdir(reader.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat status {};
        if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(status.st_mode) || !ownedByUs(status))
            plain = false;
        names.push_back(name);
    }
    if (!plain)
        return std::nullopt;
    return names;
}

// Removes the folder's name from parent while it still names the folder held.
bool removeName(int parent, const std::string& name, int folder) {
    struct stat held {};
    struct stat atName {};
    if (::fstat(folder, &held) != 0 ||
        ::fstatat(parent, name.c_str(), &atName, AT_SYMLINK_NOFOLLOW) != 0 ||
        held.st_dev != atName.st_dev || held.st_ino != atName.st_ino)
        return false;
    return ::unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0;
}

bool sweepFolder(int parent, const std::string& name, Kind kind) {
    // O_NOFOLLOW: a link under the name is not ours to follow.
    const UniqueFd folder(
        ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status {};
    if (!folder || ::fstat(folder.get(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        !ownedByUs(status) || (status.st_mode & 07777) != 0700)
        return false;
    const UniqueFd lock(
        ::openat(folder.get(), WorkingFolderLock, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!lock) {
        // A staging folder before its lock exists holds nothing; its maker,
        // should it still live, starts over. Only an empty folder goes.
        return errno == ENOENT && kind == Kind::Staging && removeName(parent, name, folder.get());
    }
    struct stat lockStatus {};
    if (::fstat(lock.get(), &lockStatus) != 0 || !S_ISREG(lockStatus.st_mode) ||
        !ownedByUs(lockStatus))
        return false;
    // Held by the program working in it; no lock to be had at all on this
    // file system means nobody can tell, so nothing is removed either.
    if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0)
        return false;
    const auto names = plainFilesIn(folder.get());
    if (!names)
        return false;
    // A file the gone process was making beside its place (an extracted
    // entry under its hidden name) goes first, by the note it left here.
    for (const std::string& file : *names)
        if (isUnfinishedNote(file))
            removeNotedFile(folder.get(), file);
    for (const std::string& file : *names)
        if (file != WorkingFolderLock)
            ::unlinkat(folder.get(), file.c_str(), 0);
    ::unlinkat(folder.get(), WorkingFolderLock, 0);
    return removeName(parent, name, folder.get());
}

} // namespace

SweepCount removeAbandonedWorkingFolders(const std::filesystem::path& parent) {
    SweepCount count;
    const UniqueFd parentFd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parentFd)
        return count;
    std::vector<std::pair<std::string, Kind>> candidates;
    if (const FolderListing reader = listFolder(parentFd.get()))
        while (const dirent* entry = ::readdir(reader.get()))
            if (const Kind kind = kindOf(entry->d_name); kind != Kind::Other)
                candidates.emplace_back(entry->d_name, kind);
    for (const auto& [name, kind] : candidates)
        ++(sweepFolder(parentFd.get(), name, kind) ? count.removed : count.leftAlone);
    return count;
}

SweepCount removeAbandonedWorkingFolders() {
    try {
        return removeAbandonedWorkingFolders(workingFolderParent());
    } catch (const UnsafeTemporaryDirectory&) {
        // Where others could swap folders in, nothing found there is ours to trust.
        return {};
    }
}

} // namespace quorvane
