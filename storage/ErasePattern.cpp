#include "storage/ErasePattern.h"

#include "storage/Progress.h"

#include <algorithm>
#include <fcntl.h>
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

bool writeErasePattern(std::ostream& out, std::uint64_t count) {
    if (count == 0)
        return static_cast<bool>(out);
    const std::string block = makePatternBlock(count);
    while (count > 0 && out) {
        const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(count, block.size()));
        out.write(block.data(), static_cast<std::streamsize>(piece));
        count -= piece;
    }
    return static_cast<bool>(out);
}

bool syncFileToDisk(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    return (::close(fd) == 0) && synced;
}

} // namespace quorvane
