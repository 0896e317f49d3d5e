// Opening a vault: the header, the key slots, the newer commit slot that
// opens, its root and index groups, every number checked against the file.

#include "storage/format/sealed/Vault.h"
#include "storage/format/sealed/VaultHeader.h"

#include <algorithm>
#include <cerrno>
#include <set>

namespace quorvane::vault {

Vault::Vault(std::unique_ptr<PlainFile> file, bool writable)
    : file_(std::move(file)), writable_(writable) {}

Vault::~Vault() = default;

std::optional<Failure> Vault::writeNew(std::ostream& out, const std::string& password,
                                       const VaultSettings& settings) {
    if (!cryptoReady() || !chunkSizeAccepted(settings.chunkSize))
        return Failure{0, "The vault's settings are out of bounds"};
    const auto [kek, failure] = deriveNewSealedKey(password, settings.passes, settings.memoryKiB);
    if (!kek)
        return failure;
    SessionKeys keys;
    randomBytes(keys.data.data(), KeySize);
    deriveSubkeys(keys);
    unsigned char fixed[FixedSize];
    makeFixedPart(settings.chunkSize, fixed);
    KeySlot slot;
    slot.generation = 1;
    wrapDataKey(keys.data, *kek, fixed, slot);

    // The first commit: an empty root right after the header.
    Bytes root;
    encodeRoot({}, root);
    CommitState state;
    state.generation = 1;
    state.rootOffset = HeaderSize;
    state.rootLength = root.size();
    state.lengthInUse = HeaderSize + root.size() + SealOverhead;
    Bytes sealedRoot(root.size() + SealOverhead);
    sealChunk(keys.chunks, fixed + SafeIdAt, Place{ChunkKind::Root, 0, 0, 1, true}, root.data(),
              root.size(), sealedRoot.data());
    const Bytes header = headerBytes(fixed, slot, keys.commits, state);
    out.write(reinterpret_cast<const char*>(header.data()),
              static_cast<std::streamsize>(header.size()));
    out.write(reinterpret_cast<const char*>(sealedRoot.data()),
              static_cast<std::streamsize>(sealedRoot.size()));
    if (!out)
        return Failure{0, "Couldn't write the whole output file"};
    return std::nullopt;
}

std::unique_ptr<Vault> Vault::open(std::unique_ptr<PlainFile> file, const std::string& password,
                                   bool writable, OpenResult& outcome) {
    std::unique_ptr<Vault> vault(new Vault(std::move(file), writable));
    outcome = vault->readHeader(&password, nullptr);
    if (outcome == OpenResult::Opened)
        outcome = vault->loadCommitted();
    return outcome == OpenResult::Opened ? std::move(vault) : nullptr;
}

std::unique_ptr<Vault> Vault::openWithKey(std::unique_ptr<PlainFile> file, const SecretKey& dataKey,
                                          bool writable, OpenResult& outcome) {
    std::unique_ptr<Vault> vault(new Vault(std::move(file), writable));
    outcome = vault->readHeader(nullptr, &dataKey);
    if (outcome == OpenResult::Opened)
        outcome = vault->loadCommitted();
    return outcome == OpenResult::Opened ? std::move(vault) : nullptr;
}

OpenResult Vault::readHeader(const std::string* password, const SecretKey* dataKey) {
    if (!cryptoReady())
        return OpenResult::KeyFailed;
    // Shorter files are read whole, to tell a plain safe or the first
    // sealed version from a cut vault.
    Bytes header(HeaderSize);
    const std::size_t count =
        static_cast<std::size_t>(std::min<std::uint64_t>(file_->length(), HeaderSize));
    if (!file_->readAt(0, header.data(), count))
        return lastError_ = file_->lastError(), OpenResult::ReadFailed;
    const std::uint32_t format = sealedFormatOf(header.data(), count);
    if (format == 0 || format == 1)
        return OpenResult::NotVault;
    if (format != FormatNumber || count < HeaderSize)
        return OpenResult::Unacceptable;
    std::copy_n(header.data(), FixedSize, fixed_);
    geometry_.chunkSize = static_cast<std::uint32_t>(leAt(fixed_ + ChunkSizeAt, 4));
    if (!chunkSizeAccepted(geometry_.chunkSize))
        return OpenResult::Unacceptable;
    for (unsigned i = 0; i < 2; ++i)
        keySlots_[i] = decodeKeySlot(header.data() + KeySlotAt[i]);
    if (dataKey != nullptr) {
        keys_.data.copyFrom(*dataKey);
        keySlot_ = keySlots_[1].generation > keySlots_[0].generation ? 1 : 0;
    } else {
        const KeyOpenResult opened = unwrapWithPassword(*password, fixed_, keySlots_, keys_.data);
        if (opened.outcome != OpenResult::Opened)
            return opened.outcome;
        keySlot_ = opened.slot;
    }
    deriveSubkeys(keys_);
    return OpenResult::Opened;
}

OpenResult Vault::loadCommitted() {
    unsigned char slots[2][CommitSlotSize];
    for (unsigned i = 0; i < 2; ++i)
        if (!file_->readAt(CommitSlotAt[i], slots[i], CommitSlotSize))
            return lastError_ = file_->lastError(), OpenResult::ReadFailed;
    const std::optional<CommitState> states[2] = {openCommit(keys_.commits, fixed_, 0, slots[0]),
                                                  openCommit(keys_.commits, fixed_, 1, slots[1])};
    // The newer slot that opens is the state; a slot that does not open (torn
    // by a crash, or damaged) leaves the other.
    if (!states[0] && !states[1])
        return OpenResult::Damaged;
    const unsigned newer =
        !states[0] || (states[1] && states[1]->generation > states[0]->generation) ? 1 : 0;
    Loaded loaded;
    const OpenResult outcome = loadState(*states[newer], loaded);
    if (outcome != OpenResult::Opened)
        return outcome;
    committedSlot_ = newer;
    adopt(std::move(loaded), *states[newer]);
    // A crash's uncommitted tail is reached by no slot: give it back.
    if (writable_ && file_->length() > committed_.lengthInUse &&
        !(file_->resize(committed_.lengthInUse) && file_->sync()))
        return lastError_ = file_->lastError(), OpenResult::ReadFailed;
    return OpenResult::Opened;
}

namespace {

bool overlapping(std::vector<Range> ranges) {
    std::sort(ranges.begin(), ranges.end(),
              [](const Range& a, const Range& b) { return a.offset < b.offset; });
    for (std::size_t i = 1; i < ranges.size(); ++i)
        if (ranges[i - 1].offset + ranges[i - 1].length > ranges[i].offset)
            return true;
    return false;
}

} // namespace

OpenResult Vault::loadState(const CommitState& state, Loaded& loaded) {
    const std::uint64_t fileLength = file_->length();
    const std::uint64_t chunk = geometry_.chunkSize;
    // A file cut below its length in use, or a root out of it, is damage.
    if (state.lengthInUse > fileLength || state.rootOffset < HeaderSize ||
        state.rootOffset > state.lengthInUse || state.rootLength < 4 ||
        state.rootLength > state.lengthInUse || state.generation == 0)
        return OpenResult::Damaged;
    const std::uint64_t rootChunks = geometry_.chunkCount(state.rootLength);
    const std::uint64_t rootSpan = geometry_.sealedSpan(state.rootLength, 0, rootChunks);
    if (rootSpan > state.lengthInUse - state.rootOffset)
        return OpenResult::Damaged;
    Bytes root(static_cast<std::size_t>(state.rootLength));
    for (std::uint64_t i = 0, at = state.rootOffset; i < rootChunks; ++i) {
        const std::uint64_t sealed = geometry_.sealedSize(state.rootLength, i);
        const Place place{ChunkKind::Root, 0, i, state.generation, i + 1 == rootChunks};
        if (!readChunk(at, static_cast<std::size_t>(sealed), place, root.data() + i * chunk))
            return lastError_ != 0 ? OpenResult::ReadFailed : OpenResult::Damaged;
        at += sealed;
    }
    const IndexBounds bounds{geometry_, state.lengthInUse, state.nextEntryId};
    const auto rows = decodeRoot(root, bounds);
    if (!rows)
        return OpenResult::Damaged;
    loaded.root = {state.rootOffset, rootSpan};
    loaded.reached.push_back(loaded.root);
    Bytes plain(chunk);
    std::set<std::uint64_t> ids;
    for (const RootRow& row : *rows) {
        const Place place{ChunkKind::IndexGroup, row.group, 0, row.generation, true};
        if (row.generation > state.generation ||
            !readChunk(row.offset, row.sealedSize, place, plain.data()))
            return lastError_ != 0 ? OpenResult::ReadFailed : OpenResult::Damaged;
        std::vector<VaultEntry> entries;
        if (!decodeGroup(plain.data(), row.sealedSize - SealOverhead, bounds, entries))
            return OpenResult::Damaged;
        Group& group = loaded.groups[row.group];
        group.row = row;
        group.bytes = row.sealedSize - SealOverhead;
        loaded.reached.push_back({row.offset, row.sealedSize});
        for (VaultEntry& entry : entries) {
            if (entry.generation > state.generation || !ids.insert(entry.id).second)
                return OpenResult::Damaged;
            std::uint64_t first = 0;
            for (const Extent& extent : entry.extents) {
                loaded.reached.push_back(
                    {extent.offset, geometry_.sealedSpan(entry.size, first, extent.chunks)});
                first += extent.chunks;
            }
            loaded.groupOf[entry.id] = row.group;
            const std::string path = entry.path;
            if (!loaded.entries.emplace(path, std::move(entry)).second)
                return OpenResult::Damaged;
        }
    }
    return overlapping(loaded.reached) ? OpenResult::Damaged : OpenResult::Opened;
}

void Vault::adopt(Loaded&& loaded, const CommitState& state) {
    committed_ = state;
    nextEntryId_ = state.nextEntryId;
    entries_ = std::move(loaded.entries);
    groupOf_ = std::move(loaded.groupOf);
    groups_ = std::move(loaded.groups);
    root_ = loaded.root;
    reached_ = 0;
    for (const Range& range : loaded.reached)
        reached_ += range.length;
    space_.startFrom(std::move(loaded.reached), HeaderSize, state.lengthInUse);
    writtenIds_.clear();
    changed_ = false;
    cachedId_ = 0;
}

bool Vault::readChunk(std::uint64_t offset, std::size_t sealedSize, const Place& place,
                      unsigned char* plain) {
    lastError_ = 0;
    Bytes sealed(sealedSize);
    if (!file_->readAt(offset, sealed.data(), sealedSize)) {
        lastError_ = file_->lastError();
        return false;
    }
    return openChunk(keys_.chunks, fixed_ + SafeIdAt, place, sealed.data(), sealedSize, plain);
}

} // namespace quorvane::vault
