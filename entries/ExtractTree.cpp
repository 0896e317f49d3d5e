#include "entries/ExtractTree.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace quorvane {

namespace {

timespec timeOf(const EntryStamp& stamp) {
    return {static_cast<time_t>(stamp.modifiedSeconds),
            static_cast<long>(stamp.modifiedNanoseconds)};
}

} // namespace

ExtractFolder* ExtractTree::folderAt(const std::string& path, int& error) {
    if (path.empty())
        return &top_;
    if (const auto found = made_.find(path); found != made_.end())
        return found->second.get();
    const std::size_t slash = path.rfind('/');
    const std::string parentPath = slash == std::string::npos ? "" : path.substr(0, slash);
    ExtractFolder* parent = folderAt(parentPath, error);
    if (parent == nullptr)
        return nullptr;
    auto folder = parent->subFolder(path.substr(slash == std::string::npos ? 0 : slash + 1), error);
    if (!folder)
        return nullptr;
    return made_.emplace(path, std::move(folder)).first->second.get();
}

TreePlace ExtractTree::placeOf(const std::string& storedName) {
    TreePlace place{&top_, storedName, topPath_, 0};
    const std::size_t slash = storedName.rfind('/');
    if (!keepsTree_ || slash == std::string::npos)
        return place;
    const std::string parent = storedName.substr(0, slash);
    place.name = storedName.substr(slash + 1);
    place.shownFolder = topPath_ + (topPath_.ends_with('/') ? "" : "/") + parent;
    place.folder = folderAt(parent, place.error);
    return place;
}

int ExtractTree::makeFolder(const std::string& path) {
    int error = 0;
    if (keepsTree_)
        folderAt(path, error);
    return error;
}

void ExtractTree::stampFile(SafeState& state, const std::string& storedName, const TreePlace& place,
                            const std::string& writtenName) const {
    if (!keepsTree_ || place.folder == nullptr)
        return;
    const auto entry = contentsOf(state).entry(state, storedName);
    if (!entry)
        return;
    // The access time is the extraction's own; the modification time is the entry's.
    const timespec times[2] = {{0, UTIME_NOW}, timeOf(entry->stamp)};
    ::utimensat(place.folder->fd(), writtenName.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

std::optional<mode_t> ExtractTree::ownerBitsOf(SafeState& state,
                                               const std::string& storedName) const {
    if (!keepsTree_)
        return std::nullopt;
    const auto entry = contentsOf(state).entry(state, storedName);
    if (!entry)
        return std::nullopt;
    return static_cast<mode_t>(entry->stamp.mode & 0700);
}

void ExtractTree::stampFolders(SafeState& state) {
    // Deepest first would not matter: a folder's time changes only when a
    // name in it does, and every file is in place by now.
    for (const auto& [path, folder] : made_) {
        const auto entry = contentsOf(state).entry(state, path);
        if (!entry)
            continue;
        const timespec times[2] = {{0, UTIME_NOW}, timeOf(entry->stamp)};
        ::futimens(folder->fd(), times);
        // The group and others keep none, as the folder was made with none.
        if (folder->madeHere())
            ::fchmod(folder->fd(), static_cast<mode_t>(entry->stamp.mode & 0700));
    }
}

} // namespace quorvane
