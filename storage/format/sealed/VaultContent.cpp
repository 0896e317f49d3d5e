// A vault's entries: reading a file's range chunk by chunk, and changes that
// write new chunks into the file (reached by no slot until the commit).

#include "storage/format/sealed/Vault.h"

#include <algorithm>
#include <memory>

#include <sodium.h>

namespace quorvane::vault {
namespace {

// Chunks sealed and written at once while adding.
constexpr std::uint64_t ChunksPerWrite = 16;

} // namespace

std::uint64_t Vault::chunkOffset(const VaultEntry& entry, std::uint64_t number) const {
    // Within an extent the chunks are full-sized; extents add up to the
    // content's chunks (checked when the index was read).
    std::uint64_t first = 0;
    for (const Extent& extent : entry.extents) {
        if (number < first + extent.chunks)
            return extent.offset + (number - first) * (geometry_.chunkSize + SealOverhead);
        first += extent.chunks;
    }
    return 0; // past the content: reads as no chunk
}

const VaultEntry* Vault::find(const std::string& path) const {
    const auto at = entries_.find(path);
    return at == entries_.end() ? nullptr : &at->second;
}

StepResult Vault::fail(StepResult outcome) {
    if (outcome == StepResult::WriteFailed || outcome == StepResult::ReadFailed)
        lastError_ = file_->lastError();
    return outcome;
}

StepResult Vault::read(const std::string& path, std::uint64_t offset, void* into, std::size_t count,
                       std::size_t& got) {
    got = 0;
    const VaultEntry* entry = find(path);
    if (entry == nullptr || entry->kind != EntryKind::File)
        return StepResult::NotFound;
    const std::uint64_t chunk = geometry_.chunkSize;
    cache_.resize(chunk);
    auto* to = static_cast<unsigned char*>(into);
    while (got < count && offset + got < entry->size) {
        const std::uint64_t at = offset + got;
        const std::uint64_t number = at / chunk;
        if (cachedId_ != entry->id || cachedChunk_ != number) {
            const std::uint64_t where = chunkOffset(*entry, number);
            const Place place{ChunkKind::Content, entry->id, number, entry->generation,
                              number + 1 == geometry_.chunkCount(entry->size)};
            cachedId_ = 0;
            if (!readChunk(where, geometry_.sealedSize(entry->size, number), place, cache_.data()))
                return lastError_ != 0 ? StepResult::ReadFailed : StepResult::Damaged;
            cachedId_ = entry->id;
            cachedChunk_ = number;
        }
        const std::uint64_t within = at - number * chunk;
        const std::uint64_t inChunk = std::min<std::uint64_t>(chunk, entry->size - number * chunk);
        const std::size_t part =
            static_cast<std::size_t>(std::min<std::uint64_t>(inChunk - within, count - got));
        std::memcpy(to + got, cache_.data() + within, part);
        got += part;
    }
    return StepResult::Done;
}

StepResult Vault::writable() const {
    return !writable_ || uncertain_ ? StepResult::ReadOnly : StepResult::Done;
}

StepResult Vault::checkNewPath(const std::string& path) const {
    if (!validEntryPath(path))
        return StepResult::InvalidPath;
    if (entries_.count(path) != 0)
        return StepResult::Exists;
    const std::string parent = parentOf(path);
    const VaultEntry* folder = parent.empty() ? nullptr : find(parent);
    if (!parent.empty() && (folder == nullptr || folder->kind != EntryKind::Folder))
        return StepResult::NoFolder;
    return StepResult::Done;
}

StepResult Vault::add(const std::string& path, RandomAccessFile& source, std::uint64_t size,
                      const EntryStamp& stamp, bool replace, const ProgressCallback& progress) {
    if (const StepResult state = writable(); state != StepResult::Done)
        return state;
    const VaultEntry* old = find(path);
    const bool replacing = replace && old != nullptr && old->kind == EntryKind::File;
    if (const StepResult check = checkNewPath(path);
        check != StepResult::Done && !(replacing && check == StepResult::Exists))
        return check;
    const std::uint64_t chunks = geometry_.chunkCount(size);
    if (chunks > 0xFFFFFFFFu)
        return StepResult::TooLarge;
    VaultEntry entry;
    entry.id = nextEntryId_;
    entry.kind = EntryKind::File;
    entry.mode = static_cast<std::uint16_t>(stamp.mode & 0700u);
    entry.modifiedSeconds = stamp.modifiedSeconds;
    entry.modifiedNanoseconds = stamp.modifiedNanoseconds;
    entry.size = size;
    entry.generation = nextGeneration();
    entry.path = path;
    const std::uint64_t span = geometry_.sealedSpan(size, 0, chunks);
    const std::uint64_t offset = space_.take(span);
    StepResult outcome = StepResult::Done;
    if (!writeContent(source, size, entry.id, offset, progress, outcome)) {
        space_.releaseUncommitted({offset, span});
        return outcome;
    }
    if (chunks > 0)
        entry.extents.push_back({offset, static_cast<std::uint32_t>(chunks)});
    ++nextEntryId_;
    if (replacing) {
        leaveGroup(*old);
        releaseContent(*old);
        entries_.erase(path);
    }
    writtenIds_.push_back(entry.id);
    placeInGroup(entry);
    entries_.emplace(path, std::move(entry));
    changed_ = true;
    return StepResult::Done;
}

bool Vault::writeContent(RandomAccessFile& source, std::uint64_t size, std::uint64_t id,
                         std::uint64_t offset, const ProgressCallback& progress,
                         StepResult& outcome) {
    const std::uint64_t chunk = geometry_.chunkSize;
    const std::uint64_t chunks = geometry_.chunkCount(size);
    // Sized to the content and left uncleared: every byte is written before
    // it is read, and clearing a megabyte at each add cost a small file more
    // than its own sealing. The plaintext is wiped on every way out.
    const auto plainSize = static_cast<std::size_t>(std::min(chunk, size));
    const auto sealedSize = static_cast<std::size_t>(
        std::min(ChunksPerWrite * (chunk + SealOverhead), geometry_.sealedSpan(size, 0, chunks)));
    const auto plain = std::make_unique_for_overwrite<unsigned char[]>(plainSize);
    const auto sealed = std::make_unique_for_overwrite<unsigned char[]>(sealedSize);
    const auto wipe = [&] { sodium_memzero(plain.get(), plainSize); };
    for (std::uint64_t number = 0; number < chunks;) {
        const std::uint64_t batch = std::min(ChunksPerWrite, chunks - number);
        std::size_t filled = 0;
        for (std::uint64_t i = number; i < number + batch; ++i) {
            const std::size_t count = static_cast<std::size_t>(std::min(chunk, size - i * chunk));
            if (!source.readAt(i * chunk, plain.get(), count)) {
                wipe();
                outcome = StepResult::SourceFailed;
                return false;
            }
            const Place place{ChunkKind::Content, id, i, nextGeneration(), i + 1 == chunks};
            sealChunk(keys_.chunks, fixed_ + SafeIdAt, place, plain.get(), count,
                      sealed.get() + filled);
            filled += count + SealOverhead;
        }
        if (!file_->writeAt(offset, sealed.get(), filled)) {
            wipe();
            outcome = fail(StepResult::WriteFailed);
            return false;
        }
        offset += filled;
        number += batch;
        reportProgress(progress, std::min(number * chunk, size), size);
    }
    wipe();
    return true;
}

void Vault::releaseContent(const VaultEntry& entry) {
    std::uint64_t first = 0;
    for (const Extent& extent : entry.extents) {
        const Range range{extent.offset, geometry_.sealedSpan(entry.size, first, extent.chunks)};
        first += extent.chunks;
        if (entry.generation == nextGeneration())
            space_.releaseUncommitted(range);
        else
            space_.releaseCommitted(range);
    }
    if (cachedId_ == entry.id)
        cachedId_ = 0;
}

void Vault::leaveGroup(const VaultEntry& entry) {
    const auto at = groupOf_.find(entry.id);
    Group& group = groups_[at->second];
    group.bytes -= encodedSize(entry);
    group.dirty = true;
    groupOf_.erase(at);
}

void Vault::placeInGroup(const VaultEntry& entry) {
    // The entry joins the last group while it has room, else a new one; a
    // commit rewrites only the groups whose entries changed.
    const std::size_t size = encodedSize(entry);
    std::uint32_t number = groups_.empty() ? 0 : groups_.rbegin()->first;
    if (!groups_.empty() && groups_.rbegin()->second.bytes + size > geometry_.chunkSize)
        ++number;
    Group& group = groups_[number];
    group.bytes += size;
    group.dirty = true;
    groupOf_[entry.id] = number;
}

} // namespace quorvane::vault
