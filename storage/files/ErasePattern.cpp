#include "storage/files/ErasePattern.h"

#include "storage/Progress.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <unistd.h>

namespace quorvane {

namespace {

// A whole number of patterns, so that every block continues the pattern where
// the previous one stopped.
constexpr std::size_t PatternBlockSize = StreamBlockSize - StreamBlockSize % ErasePattern.size();

// Whole patterns enough for count bytes, at most one block.
std::string makePatternBlock(std::uint64_t count) {
    const std::uint64_t wanted =
        std::min<std::uint64_t>(count + ErasePattern.size(), PatternBlockSize);
    std::string block;
    block.reserve(static_cast<std::size_t>(wanted));
    while (block.size() + ErasePattern.size() <= wanted)
        block.append(ErasePattern);
    return block;
}

} // namespace

int writeErasePatternFromStart(int fd, std::uint64_t count) {
    const std::string block = makePatternBlock(count);
    std::uint64_t offset = 0;
    while (offset < count) {
        // After a short write the next one starts inside the block, where the
        // pattern continues: the block holds whole patterns only.
        const auto start = static_cast<std::size_t>(offset % block.size());
        const auto piece =
            static_cast<std::size_t>(std::min<std::uint64_t>(count - offset, block.size() - start));
        const ssize_t written =
            ::pwrite(fd, block.data() + start, piece, static_cast<off_t>(offset));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return errno;
        if (written == 0)
            return EIO;
        offset += static_cast<std::uint64_t>(written);
    }
    return 0;
}

} // namespace quorvane
