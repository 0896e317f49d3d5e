// Changes of a vault's tree that touch only its index: folders made, entries
// removed (a folder with everything in it, when asked), entries moved (a
// folder with everything below it, in one step) and their stamps set. None
// writes a chunk; the commit writes the index groups they touched.

#include "storage/format/sealed/Vault.h"

#include <vector>

namespace quorvane::vault {
namespace {

bool isBelow(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == '/';
}

// The paths below folder. They sort together right after its name and a
// slash, so the walk stops at the first path that is not below.
std::vector<std::string> pathsBelow(const std::map<std::string, VaultEntry>& entries,
                                    const std::string& folder) {
    std::vector<std::string> below;
    for (auto at = entries.lower_bound(folder + "/");
         at != entries.end() && isBelow(at->first, folder); ++at)
        below.push_back(at->first);
    return below;
}

} // namespace

StepResult Vault::makeFolder(const std::string& path, const EntryStamp& stamp) {
    if (const StepResult state = writable(); state != StepResult::Done)
        return state;
    if (const StepResult check = checkNewPath(path); check != StepResult::Done)
        return check;
    VaultEntry entry;
    entry.id = nextEntryId_++;
    entry.kind = EntryKind::Folder;
    entry.mode = static_cast<std::uint16_t>(stamp.mode & 0700u);
    entry.modifiedSeconds = stamp.modifiedSeconds;
    entry.modifiedNanoseconds = stamp.modifiedNanoseconds;
    entry.generation = nextGeneration();
    entry.path = path;
    placeInGroup(entry);
    entries_.emplace(path, std::move(entry));
    changed_ = true;
    return StepResult::Done;
}

void Vault::dropEntry(const std::string& path) {
    const auto at = entries_.find(path);
    leaveGroup(at->second);
    releaseContent(at->second);
    entries_.erase(at);
}

StepResult Vault::remove(const std::string& path, bool withEverything) {
    if (const StepResult state = writable(); state != StepResult::Done)
        return state;
    if (find(path) == nullptr)
        return StepResult::NotFound;
    const std::vector<std::string> below = pathsBelow(entries_, path);
    if (!below.empty() && !withEverything)
        return StepResult::NotEmpty;
    for (const std::string& inside : below)
        dropEntry(inside);
    dropEntry(path);
    changed_ = true;
    return StepResult::Done;
}

StepResult Vault::checkMoveTarget(const VaultEntry& source, const std::string& to,
                                  bool replace) const {
    const VaultEntry* target = find(to);
    if (target == nullptr)
        return checkNewPath(to);
    if (!replace)
        return StepResult::Exists;
    if (target->kind != source.kind)
        return target->kind == EntryKind::Folder ? StepResult::IsFolder : StepResult::NotFolder;
    if (target->kind == EntryKind::Folder && !pathsBelow(entries_, to).empty())
        return StepResult::NotEmpty;
    return StepResult::Done;
}

StepResult Vault::rename(const std::string& from, const std::string& to, bool replace) {
    if (const StepResult state = writable(); state != StepResult::Done)
        return state;
    const VaultEntry* source = find(from);
    if (source == nullptr)
        return StepResult::NotFound;
    if (from == to)
        return StepResult::Done;
    if (isBelow(to, from))
        return StepResult::InvalidPath;
    if (const StepResult check = checkMoveTarget(*source, to, replace); check != StepResult::Done)
        return check;
    std::vector<std::string> moving{from};
    for (std::string& path : pathsBelow(entries_, from))
        moving.push_back(std::move(path));
    // Every new path is checked before anything moves, so a move happens whole or not at all.
    for (const std::string& path : moving)
        if (!validEntryPath(to + path.substr(from.size())))
            return StepResult::InvalidPath;
    if (find(to) != nullptr)
        dropEntry(to);
    for (const std::string& path : moving) {
        auto node = entries_.extract(path);
        leaveGroup(node.mapped());
        node.mapped().path = to + path.substr(from.size());
        node.key() = node.mapped().path;
        placeInGroup(node.mapped());
        entries_.insert(std::move(node));
    }
    changed_ = true;
    return StepResult::Done;
}

StepResult Vault::setStamp(const std::string& path, const EntryStamp& stamp) {
    if (const StepResult state = writable(); state != StepResult::Done)
        return state;
    const auto at = entries_.find(path);
    if (at == entries_.end())
        return StepResult::NotFound;
    VaultEntry& entry = at->second;
    entry.mode = static_cast<std::uint16_t>(stamp.mode & 0700u);
    entry.modifiedSeconds = stamp.modifiedSeconds;
    entry.modifiedNanoseconds = stamp.modifiedNanoseconds;
    // The encoded size stays: only the group has to be written anew.
    groups_[groupOf_.at(entry.id)].dirty = true;
    changed_ = true;
    return StepResult::Done;
}

} // namespace quorvane::vault
