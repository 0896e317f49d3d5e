#include "storage/workingcopy/ReadThroughSafe.h"

#include "storage/files/FileIdentity.h"
#include "storage/workingcopy/PlainFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace quorvane {

namespace {

constexpr std::size_t Block = CryptoPP::AES::BLOCKSIZE;
// Blocks decrypted at a time: 256 KiB, as large as the copies' blocks.
constexpr std::size_t BatchBlocks = 16384;

// The change time also moves when a name of the file comes or goes (a
// rename over it, its own save), or its mode, owner or attributes change:
// that leaves the content as it was, and what else changed tells it apart
// from a write whose times were put back.
bool sameState(const struct stat& a, const struct stat& b, bool metadataChanged) {
    const bool sameChangeTime =
        a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           (sameChangeTime || metadataChanged);
}

// The PKCS #7 padding of the last block: 1 to 16 bytes, each holding the
// count. 0 when it does not fit (a wrong key, or not a safe).
std::size_t paddingOf(const unsigned char* lastBlock) {
    const std::size_t count = lastBlock[Block - 1];
    if (count == 0 || count > Block)
        return 0;
    for (std::size_t i = Block - count; i < Block; ++i)
        if (lastBlock[i] != count)
            return 0;
    return count;
}

} // namespace

ReadThroughSafe::ReadThroughSafe(int fd, const std::string& key)
    : fd_(fd), buffer_((BatchBlocks + 1) * Block), plain_(BatchBlocks * Block) {
    const auto* keyBytes = reinterpret_cast<const CryptoPP::byte*>(key.data());
    const unsigned char zeros[Block] = {};
    cbc_.SetKeyWithIV(keyBytes, key.size(), zeros, Block);
}

ReadThroughSafe::~ReadThroughSafe() = default;

std::unique_ptr<ReadThroughSafe> ReadThroughSafe::open(int fd, const std::string& key,
                                                       SafeOpenResult& outcome, int& error) {
    outcome = SafeOpenResult::ReadFailed;
    error = 0;
    // An open file of its own, not a duplicate: a duplicate would share the
    // lock that the caller holds on the safe, and keep it after its release.
    const int own = ::open(descriptorPath(fd).c_str(), O_RDONLY | O_CLOEXEC);
    if (own < 0) {
        error = errno;
        return nullptr;
    }
    std::unique_ptr<ReadThroughSafe> safe(new ReadThroughSafe(own, key));
    if (::fstat(own, &safe->opened_) != 0) {
        error = errno;
        return nullptr;
    }
    safe->metadata_ = metadataOf(own);
    safe->fileSize_ = static_cast<std::uint64_t>(safe->opened_.st_size);
    // An IV, then at least one whole block, and nothing but whole blocks.
    if (safe->fileSize_ < 2 * Block || safe->fileSize_ % Block != 0) {
        outcome = SafeOpenResult::NotASafe;
        return nullptr;
    }
    const std::uint64_t blocks = safe->fileSize_ / Block - 1;
    unsigned char last[Block];
    if (!safe->decryptBlocks(blocks - 1, 1, last)) {
        error = safe->lastError_ != 0 ? safe->lastError_ : EIO;
        return nullptr;
    }
    const std::size_t padding = paddingOf(last);
    if (padding == 0) {
        outcome = SafeOpenResult::NotASafe;
        return nullptr;
    }
    safe->length_ = blocks * Block - padding;
    outcome = SafeOpenResult::Opened;
    return safe;
}

bool ReadThroughSafe::failWith(int error) {
    lastError_ = error;
    return false;
}

bool ReadThroughSafe::unchanged() {
    if (changed_)
        return false;
    struct stat now {};
    if (::fstat(fd_.get(), &now) != 0) {
        changed_ = true;
        return false;
    }
    if (sameState(now, opened_, false))
        return true;
    // Only looked at when the change time moved: a listing of attributes.
    const std::string metadata = metadataOf(fd_.get());
    if (!sameState(now, opened_, metadata != metadata_)) {
        changed_ = true;
        return false;
    }
    // A change of metadata only: the state to compare with from now on.
    opened_ = now;
    metadata_ = metadata;
    return true;
}

bool ReadThroughSafe::readFile(std::uint64_t offset, unsigned char* into, std::size_t count) {
    const long long got = readFully(fd_.get(), into, count, offset);
    if (got < 0)
        return failWith(errno);
    // Shorter than it was: cut by someone.
    return static_cast<std::size_t>(got) == count || failWith(SafeChangedInPlace);
}

// Ciphertext block i of the container lies after the IV, at (i + 1) * 16, and
// the 16 bytes before it are its IV.
bool ReadThroughSafe::decryptBlocks(std::uint64_t firstBlock, std::size_t blocks,
                                    unsigned char* into) {
    if (!readFile(firstBlock * Block, buffer_.data(), (blocks + 1) * Block))
        return false;
    cbc_.Resynchronize(buffer_.data(), Block);
    cbc_.ProcessData(into, buffer_.data() + Block, blocks * Block);
    return true;
}

bool ReadThroughSafe::readAt(std::uint64_t offset, void* into, std::size_t count) {
    lastError_ = 0;
    if (offset > length_ || count > length_ - offset)
        return false;
    if (!unchanged())
        return failWith(SafeChangedInPlace);
    auto* out = static_cast<unsigned char*>(into);
    while (count > 0) {
        const std::uint64_t firstBlock = offset / Block;
        const auto skip = static_cast<std::size_t>(offset % Block);
        const std::size_t blocks = std::min(BatchBlocks, (skip + count + Block - 1) / Block);
        const std::size_t take = std::min(count, blocks * Block - skip);
        if (skip == 0 && take == blocks * Block) {
            // Whole blocks go straight into the caller's buffer.
            if (!decryptBlocks(firstBlock, blocks, out))
                return false;
        } else {
            if (!decryptBlocks(firstBlock, blocks, plain_.data()))
                return false;
            std::memcpy(out, plain_.data() + skip, take);
        }
        offset += take;
        out += take;
        count -= take;
    }
    return true;
}

bool ReadThroughSafe::writeAt(std::uint64_t, const void*, std::size_t) {
    return failWith(EROFS);
}

bool ReadThroughSafe::resize(std::uint64_t) {
    return failWith(EROFS);
}

} // namespace quorvane
