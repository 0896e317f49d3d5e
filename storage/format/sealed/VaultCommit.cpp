// The commit protocol: the changed index groups and a new root are appended
// beside the new contents, synced and read back from the disk, and only then
// is the older commit slot overwritten and synced. A crash before that slot
// is whole leaves the newer old slot the state.

#include "storage/format/sealed/Vault.h"

#include <fcntl.h>
#include <set>

namespace quorvane::vault {
namespace {

constexpr std::uint64_t ChunksPerRead = 16;

} // namespace

StepResult Vault::commit() {
    if (!changed_)
        return StepResult::Done;
    if (const StepResult state = writable(); state != StepResult::Done)
        return state;
    const std::uint64_t generation = nextGeneration();
    std::map<std::uint32_t, std::vector<const VaultEntry*>> members;
    for (const auto& [path, entry] : entries_)
        if (const std::uint32_t number = groupOf_.at(entry.id); groups_.at(number).dirty)
            members[number].push_back(&entry);
    std::vector<Range> taken;
    const auto undo = [&](StepResult outcome) {
        for (const Range& range : taken)
            space_.releaseUncommitted(range);
        return fail(outcome);
    };
    std::vector<RootRow> rows;
    for (const auto& [number, group] : groups_) {
        if (!group.dirty) {
            rows.push_back(group.row);
            continue;
        }
        const auto found = members.find(number);
        if (found == members.end())
            continue; // emptied: it leaves the root
        Bytes plain;
        encodeGroupHead(static_cast<std::uint32_t>(found->second.size()), plain);
        for (const VaultEntry* entry : found->second)
            encodeEntry(*entry, plain);
        Bytes sealed(plain.size() + SealOverhead);
        sealChunk(keys_.chunks, fixed_ + SafeIdAt,
                  Place{ChunkKind::IndexGroup, number, 0, generation, true}, plain.data(),
                  plain.size(), sealed.data());
        const std::uint64_t offset = space_.take(sealed.size());
        taken.push_back({offset, sealed.size()});
        if (!file_->writeAt(offset, sealed.data(), sealed.size()))
            return undo(StepResult::WriteFailed);
        rows.push_back({offset, static_cast<std::uint32_t>(sealed.size()), number, generation});
    }
    Bytes root;
    encodeRoot(rows, root);
    const std::uint64_t rootChunks = geometry_.chunkCount(root.size());
    Bytes sealedRoot(geometry_.sealedSpan(root.size(), 0, rootChunks));
    for (std::uint64_t i = 0, from = 0, to = 0; i < rootChunks; ++i) {
        const std::size_t count = static_cast<std::size_t>(
            std::min<std::uint64_t>(geometry_.chunkSize, root.size() - from));
        sealChunk(keys_.chunks, fixed_ + SafeIdAt,
                  Place{ChunkKind::Root, 0, i, generation, i + 1 == rootChunks}, root.data() + from,
                  count, sealedRoot.data() + to);
        from += count;
        to += count + SealOverhead;
    }
    const std::uint64_t rootOffset = space_.take(sealedRoot.size());
    taken.push_back({rootOffset, sealedRoot.size()});
    if (!file_->writeAt(rootOffset, sealedRoot.data(), sealedRoot.size()) || !file_->sync())
        return undo(StepResult::WriteFailed);
    const CommitState state{generation, rootOffset, root.size(),
                            std::max(committed_.lengthInUse, space_.end()), nextEntryId_};
    if (const StepResult checked = verifyCommit(state); checked != StepResult::Done)
        return undo(checked);
    if (const StepResult written = writeSlot(state); written != StepResult::Done) {
        // The slot may or may not be on the disk: nothing more is written
        // until the safe is opened again and says which state it holds.
        uncertain_ = true;
        return written;
    }

    // Landed: what the old state alone reaches waits for the next commit.
    for (auto at = groups_.begin(); at != groups_.end();) {
        Group& group = at->second;
        if (group.dirty && group.row.offset != 0)
            space_.releaseCommitted({group.row.offset, group.row.sealedSize});
        group.dirty = false;
        at = group.bytes <= 4 ? groups_.erase(at) : std::next(at); // emptied
    }
    for (const RootRow& row : rows)
        groups_[row.group].row = row;
    space_.releaseCommitted(root_);
    space_.commitLanded();
    root_ = {rootOffset, sealedRoot.size()};
    committed_ = state;
    committedSlot_ = 1 - committedSlot_;
    changed_ = false;
    writtenIds_.clear();
    reached_ = reachedBytes();
    // A tail that no slot reaches (an add taken back before the commit).
    if (file_->length() > state.lengthInUse)
        static_cast<void>(file_->resize(state.lengthInUse));
    return StepResult::Done;
}

StepResult Vault::verifyCommit(const CommitState& state) {
    // Read from the disk, not from the cache that the writes filled.
    ::posix_fadvise(file_->fd(), 0, 0, POSIX_FADV_DONTNEED);
    Loaded loaded;
    const OpenResult opening = loadState(state, loaded);
    if (opening == OpenResult::ReadFailed)
        return StepResult::ReadFailed;
    if (opening != OpenResult::Opened || loaded.entries != entries_)
        return StepResult::Damaged;
    const std::set<std::uint64_t> written(writtenIds_.begin(), writtenIds_.end());
    for (const auto& [path, entry] : entries_)
        if (written.count(entry.id) != 0)
            if (const StepResult read = readWhole(entry); read != StepResult::Done)
                return read;
    return StepResult::Done;
}

StepResult Vault::writeSlot(const CommitState& state) {
    const unsigned slot = 1 - committedSlot_;
    unsigned char bytes[CommitSlotSize];
    sealCommit(keys_.commits, fixed_, slot, state, bytes);
    if (!file_->writeAt(CommitSlotAt[slot], bytes, CommitSlotSize) || !file_->sync())
        return fail(StepResult::WriteFailed);
    return StepResult::Done;
}

StepResult Vault::readWhole(const VaultEntry& entry) {
    const std::uint64_t full = std::uint64_t{geometry_.chunkSize} + SealOverhead;
    const std::uint64_t chunks = geometry_.chunkCount(entry.size);
    Bytes sealed(static_cast<std::size_t>(ChunksPerRead * full));
    Bytes plain(geometry_.chunkSize);
    std::uint64_t number = 0;
    for (const Extent& extent : entry.extents) {
        for (std::uint64_t done = 0; done < extent.chunks;) {
            const std::uint64_t batch =
                std::min<std::uint64_t>(ChunksPerRead, extent.chunks - done);
            const std::uint64_t span = geometry_.sealedSpan(entry.size, number, batch);
            if (!file_->readAt(extent.offset + done * full, sealed.data(), span))
                return file_->lastError() != 0 ? fail(StepResult::ReadFailed) : StepResult::Damaged;
            for (std::uint64_t i = 0; i < batch; ++i, ++number) {
                const Place place{ChunkKind::Content, entry.id, number, entry.generation,
                                  number + 1 == chunks};
                if (!openChunk(keys_.chunks, fixed_ + SafeIdAt, place, sealed.data() + i * full,
                               geometry_.sealedSize(entry.size, number), plain.data()))
                    return StepResult::Damaged;
            }
            done += batch;
        }
    }
    return StepResult::Done;
}

std::uint64_t Vault::reachedBytes() const {
    std::uint64_t total = root_.length;
    for (const auto& [number, group] : groups_)
        total += group.row.sealedSize;
    for (const auto& [path, entry] : entries_)
        total += geometry_.sealedSpan(entry.size, 0, geometry_.chunkCount(entry.size));
    return total;
}

StepResult Vault::discard() {
    if (!writable_)
        return StepResult::Done;
    // After a commit whose slot may have landed, the file may hold more than
    // the state this session knows: cutting it back could lose that commit.
    if (uncertain_)
        return StepResult::ReadOnly;
    if (file_->length() > committed_.lengthInUse && !file_->resize(committed_.lengthInUse))
        return fail(StepResult::WriteFailed);
    Loaded loaded;
    const OpenResult opening = loadState(committed_, loaded);
    if (opening != OpenResult::Opened)
        return opening == OpenResult::ReadFailed ? fail(StepResult::ReadFailed)
                                                 : StepResult::Damaged;
    adopt(std::move(loaded), committed_);
    return StepResult::Done;
}

StepResult Vault::changePassword(const std::string& password, std::uint32_t passes,
                                 std::uint32_t memoryKiB) {
    if (const StepResult state = writable(); state != StepResult::Done)
        return state;
    const auto kek = deriveNewSealedKey(password, passes, memoryKiB).key;
    if (!kek)
        return StepResult::KeyFailed;
    // The new key goes into the other slot first, so that a crash leaves
    // one that opens; then the old one is wiped, so that this file no longer
    // opens with the old password.
    const unsigned old = keySlot_;
    const unsigned fresh = 1 - old;
    KeySlot slot;
    slot.generation = keySlots_[old].generation + 1;
    wrapDataKey(keys_.data, *kek, fixed_, slot);
    unsigned char bytes[KeySlotSize];
    encodeKeySlot(slot, bytes);
    if (!file_->writeAt(KeySlotAt[fresh], bytes, KeySlotSize) || !file_->sync())
        return fail(StepResult::WriteFailed);
    keySlots_[fresh] = slot;
    keySlot_ = fresh;
    std::memset(bytes, 0, sizeof bytes);
    if (!file_->writeAt(KeySlotAt[old], bytes, KeySlotSize) || !file_->sync())
        return fail(StepResult::WriteFailed);
    keySlots_[old] = KeySlot{};
    return StepResult::Done;
}

bool Vault::wantsCompaction() const {
    const std::uint64_t waste = committed_.lengthInUse - HeaderSize - reached_;
    return waste > committed_.lengthInUse / 4;
}

} // namespace quorvane::vault
