#include "storage/workingcopy/WorkingCopy.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quorvane {

namespace {

// Sectors moved at a time: 256 KiB, as large as the copies' blocks.
constexpr std::size_t BatchSectors = 64;

std::uint64_t sectorOf(std::uint64_t offset) {
    return offset / SectorSize;
}

std::uint64_t sectorsFor(std::uint64_t bytes) {
    return (bytes + SectorSize - 1) / SectorSize;
}

} // namespace

WorkingCopy::WorkingCopy(std::filesystem::path sectorFile, std::unique_ptr<RandomAccessFile> base)
    : base_(std::move(base)), sectors_(std::move(sectorFile)), buffer_(BatchSectors * SectorSize) {
    baseVisible_ = base_ ? base_->length() : 0;
    length_ = baseVisible_;
}

bool WorkingCopy::failWith(int error) {
    lastError_ = error;
    return false;
}

bool WorkingCopy::readFromBase(std::uint64_t offset, unsigned char* into, std::size_t count) {
    const std::uint64_t visibleEnd = std::max(offset, std::min(offset + count, baseVisible_));
    const auto fromBase = static_cast<std::size_t>(visibleEnd - offset);
    if (fromBase > 0 && !base_->readAt(offset, into, fromBase))
        return failWith(base_->lastError() != 0 ? base_->lastError() : EIO);
    std::fill(into + fromBase, into + count, 0);
    return true;
}

// A run of bytes that lie in sectors of one kind: written, or not.
bool WorkingCopy::readRun(std::uint64_t offset, unsigned char* into, std::size_t count,
                          bool written) {
    if (!written)
        return readFromBase(offset, into, count);
    while (count > 0) {
        const std::uint64_t first = sectorOf(offset);
        const std::size_t skip = static_cast<std::size_t>(offset - first * SectorSize);
        const std::size_t take = std::min(count, buffer_.size() - skip);
        const auto sectors = static_cast<std::size_t>(sectorsFor(skip + take));
        if (!sectors_.read(first, sectors, buffer_.data()))
            return failWith(sectors_.lastError());
        std::memcpy(into, buffer_.data() + skip, take);
        offset += take;
        into += take;
        count -= take;
    }
    return true;
}

bool WorkingCopy::readAt(std::uint64_t offset, void* into, std::size_t count) {
    lastError_ = 0;
    if (offset > length_ || count > length_ - offset)
        return false;
    auto* out = static_cast<unsigned char*>(into);
    while (count > 0) {
        // The longest run of sectors of the same kind from here.
        const bool written = isWritten(sectorOf(offset));
        std::uint64_t runEnd = (sectorOf(offset) + 1) * SectorSize;
        while (runEnd < offset + count && isWritten(sectorOf(runEnd)) == written)
            runEnd += SectorSize;
        const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(runEnd - offset, count));
        if (!readRun(offset, out, take, written))
            return false;
        offset += take;
        out += take;
        count -= take;
    }
    return true;
}

// Whole sectors as they read now: from the sector file, the base or zeros.
bool WorkingCopy::loadSectors(std::uint64_t first, std::size_t count, unsigned char* into) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t sector = first + i;
        unsigned char* to = into + i * SectorSize;
        const bool read = isWritten(sector) ? sectors_.read(sector, 1, to)
                                            : readFromBase(sector * SectorSize, to, SectorSize);
        if (!read)
            return failWith(lastError_ != 0 ? lastError_ : sectors_.lastError());
    }
    return true;
}

bool WorkingCopy::writeSectors(std::uint64_t first, std::size_t count, const unsigned char* from) {
    if (!sectors_.write(first, count, from))
        return failWith(sectors_.lastError());
    if (written_.size() < first + count)
        written_.resize(static_cast<std::size_t>(first + count), false);
    std::fill_n(written_.begin() + static_cast<std::ptrdiff_t>(first), count, true);
    return true;
}

bool WorkingCopy::writeAt(std::uint64_t offset, const void* from, std::size_t count) {
    lastError_ = 0;
    const auto* in = static_cast<const unsigned char*>(from);
    const std::uint64_t end = offset + count;
    while (offset < end) {
        const std::uint64_t first = sectorOf(offset);
        const std::size_t skip = static_cast<std::size_t>(offset - first * SectorSize);
        const auto take =
            static_cast<std::size_t>(std::min<std::uint64_t>(end - offset, buffer_.size() - skip));
        const auto sectors = static_cast<std::size_t>(sectorsFor(skip + take));
        // Only the sectors that the write covers in part keep bytes of their own.
        if (skip != 0 && !loadSectors(first, 1, buffer_.data()))
            return false;
        const std::size_t tail = (skip + take) % SectorSize;
        if (tail != 0 && (sectors > 1 || skip == 0) &&
            !loadSectors(first + sectors - 1, 1, buffer_.data() + (sectors - 1) * SectorSize))
            return false;
        std::memcpy(buffer_.data() + skip, in, take);
        if (!writeSectors(first, sectors, buffer_.data()))
            return false;
        offset += take;
        in += take;
    }
    length_ = std::max(length_, end);
    return true;
}

bool WorkingCopy::resize(std::uint64_t length) {
    lastError_ = 0;
    if (length < length_) {
        baseVisible_ = std::min(baseVisible_, length);
        // A written sector keeps zeros past the end, so that growing again reads zeros.
        const std::size_t within = length % SectorSize;
        if (within != 0 && isWritten(sectorOf(length))) {
            if (!loadSectors(sectorOf(length), 1, buffer_.data()))
                return false;
            std::fill(buffer_.data() + within, buffer_.data() + SectorSize, 0);
            if (!writeSectors(sectorOf(length), 1, buffer_.data()))
                return false;
        }
        const std::uint64_t kept = sectorsFor(length);
        if (written_.size() > kept)
            written_.resize(static_cast<std::size_t>(kept));
        if (!sectors_.keepFirst(kept))
            return failWith(sectors_.lastError());
    }
    length_ = length;
    return true;
}

bool WorkingCopy::sync() {
    lastError_ = 0;
    return sectors_.sync() || failWith(sectors_.lastError());
}

void WorkingCopy::rebase(std::unique_ptr<RandomAccessFile> newBase) {
    base_ = std::move(newBase);
    baseVisible_ = base_ ? base_->length() : 0;
    length_ = baseVisible_;
    written_.clear();
    written_.shrink_to_fit();
    sectors_.remove();
}

void WorkingCopy::discard() {
    written_.clear();
    sectors_.remove();
    base_.reset();
    baseVisible_ = length_ = 0;
}

} // namespace quorvane
