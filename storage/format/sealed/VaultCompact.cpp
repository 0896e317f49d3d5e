// Compaction: the committed state written into a fresh file with no waste
// (see VaultPacking.h), which replaces the safe atomically. Content chunks are
// copied as they are sealed (their additional data names no offset); the
// index is packed anew.

#include "storage/format/sealed/Vault.h"
#include "storage/format/sealed/VaultHeader.h"
#include "storage/format/sealed/VaultPacking.h"

#include <fcntl.h>
#include <unistd.h>

namespace quorvane::vault {
namespace {

constexpr std::uint64_t CopyBlock = 1u << 20;

void put(std::ostream& out, const Bytes& bytes) {
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

} // namespace

ReplaceResult Vault::compact(const std::filesystem::path& target, ReplaceGuard guard) {
    ReplaceResult result;
    if (writable() != StepResult::Done || changed_) {
        result.failure =
            Failure{0, "The safe has changes that are not saved, or is open for reading only"};
        return result;
    }
    std::map<std::string, VaultEntry> planned = entries_;
    const PackedIndex packed = packIndex(planned, geometry_, keys_.chunks, fixed_ + SafeIdAt,
                                         nextGeneration(), nextEntryId_);
    const Bytes header = headerBytes(fixed_, keySlots_[keySlot_], keys_.commits, packed.state);

    const auto write = [&](std::ostream& out) -> std::optional<Failure> {
        put(out, header);
        Bytes block(CopyBlock);
        for (const auto& [path, entry] : entries_) {
            std::uint64_t first = 0;
            for (const Extent& extent : entry.extents) {
                std::uint64_t left = geometry_.sealedSpan(entry.size, first, extent.chunks);
                for (std::uint64_t from = extent.offset; left > 0 && out;) {
                    const std::size_t part =
                        static_cast<std::size_t>(std::min<std::uint64_t>(CopyBlock, left));
                    if (!file_->readAt(from, block.data(), part))
                        return Failure{file_->lastError(), failureText(file_->lastError())};
                    out.write(reinterpret_cast<const char*>(block.data()),
                              static_cast<std::streamsize>(part));
                    from += part;
                    left -= part;
                }
                first += extent.chunks;
            }
        }
        for (const Bytes& group : packed.groups)
            put(out, group);
        put(out, packed.root);
        if (!out)
            return Failure{0, "Couldn't write the whole output file"};
        return std::nullopt;
    };
    // Before the fresh file takes the safe's name, it must open to the same
    // entries, and every content chunk must open at its new place.
    const auto outer = guard.verify;
    guard.verify = [&](int fd) -> std::optional<Failure> {
        OpenResult opening = OpenResult::Opened;
        const auto fresh =
            openWithKey(std::make_unique<PlainFile>(::dup(fd)), keys_.data, false, opening);
        bool same = fresh != nullptr && fresh->entries_ == planned;
        const std::string* unread = nullptr;
        for (auto entry = planned.begin(); same && entry != planned.end(); ++entry) {
            same = fresh->readWhole(entry->second) == StepResult::Done;
            unread = same ? nullptr : &entry->first;
        }
        if (!same) {
            // The chunks were copied as they are: one that opens in neither
            // file is damaged in the safe itself, and no copy can mend it.
            const auto old = unread != nullptr ? entries_.find(*unread) : entries_.end();
            return Failure{0, old != entries_.end() && readWhole(old->second) == StepResult::Damaged
                                  ? *unread + " is damaged in the safe, which cannot be written "
                                              "anew without losing it"
                                  : "The compacted safe file does not read back as the safe"};
        }
        return outer ? outer(fd) : std::nullopt;
    };
    result = replaceFileAtomically(target, write, guard);
    if (!result.replaced())
        return result;
    // Go on in the new file.
    const int fd =
        guard.lockFresh ? ::dup(result.lockedFd.get()) : ::open(target.c_str(), O_RDWR | O_CLOEXEC);
    file_ = std::make_unique<PlainFile>(fd);
    // The new header holds the key in slot 0 alone: a later password change
    // must write slot 1, never over the only key there is.
    SecretKey dataKey;
    dataKey.copyFrom(keys_.data);
    if (fd < 0 || readHeader(nullptr, &dataKey) != OpenResult::Opened ||
        loadCommitted() != OpenResult::Opened) {
        uncertain_ = true; // the new file is the safe, and this session cannot follow it
        result.warning = "The compacted safe could not be opened again";
    }
    return result;
}

} // namespace quorvane::vault
