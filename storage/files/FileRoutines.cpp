#include "storage/files/FileRoutines.h"

#include "storage/Progress.h"
#include "storage/files/ErasePattern.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quorvane {

namespace {

std::uint64_t roundUpToWholePatterns(std::uint64_t length) {
    const std::uint64_t patternSize = ErasePattern.size();
    return (length + patternSize - 1) / patternSize * patternSize;
}

void reportCannotOpen(const std::filesystem::path& path) {
    std::cout << "I couldn't open " << path.string() << " for copying!\n" << std::flush;
}

// How many bytes a copy of `count` bytes from `start` can give: the source
// may end earlier, and then the copy stops at its end.
std::uint64_t bytesAvailable(std::uint64_t sourceLength, std::uint64_t start, std::uint64_t count) {
    if (start >= sourceLength)
        return 0;
    return std::min(count, sourceLength - start);
}

bool copyRange(std::ifstream& source, std::ofstream& target, std::uint64_t start,
               std::uint64_t length) {
    source.seekg(static_cast<std::streamoff>(start));
    // No larger than the range: most moves are of small files.
    std::vector<char> buffer(
        static_cast<std::size_t>(std::min<std::uint64_t>(length, StreamBlockSize)));
    while (length > 0) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(length, buffer.size()));
        source.read(buffer.data(), static_cast<std::streamsize>(want));
        // A source that shrank or cannot be read is a failed move, not a shorter one.
        if (static_cast<std::size_t>(source.gcount()) != want)
            return false;
        target.write(buffer.data(), static_cast<std::streamsize>(want));
        if (!target)
            return false;
        length -= want;
    }
    target.flush();
    return static_cast<bool>(target);
}

void emptyFile(const std::filesystem::path& path) {
    std::error_code ignored;
    std::filesystem::resize_file(path, 0, ignored);
}

} // namespace

void SecureErase(const std::filesystem::path& path) {
    // Callers of the path form erase files of their own, so a link is followed
    // as it always was; O_NONBLOCK keeps a FIFO under the name from hanging us.
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return;
    SecureEraseOpenFile(fd);
    ::close(fd);
}

int SecureEraseOpenFile(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return errno;
    if (!S_ISREG(status.st_mode))
        return EINVAL;
    if (status.st_size <= 0)
        return 0;
    // Whole patterns only: a length that is not a multiple of ten grows to the
    // next one, as erased files always have.
    const int error = writeErasePatternFromStart(
        fd, roundUpToWholePatterns(static_cast<std::uint64_t>(status.st_size)));
    if (error != 0)
        return error;
    // Forced to the disk before the caller deletes the file: otherwise the
    // overwrite may never leave the page cache and the old blocks keep the data.
    return ::fsync(fd) == 0 ? 0 : errno;
}

int moveFileBytes(const std::filesystem::path& source, const std::filesystem::path& target,
                  std::uint32_t start, std::uint32_t count) {
    std::ifstream in(source, std::ios::binary);
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    if (!out.is_open()) {
        reportCannotOpen(target);
        return 0;
    }
    if (!in.is_open()) {
        reportCannotOpen(source);
        return 0;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff end = in.tellg();
    if (end < 0)
        return 0;
    const auto sourceLength = static_cast<std::uint64_t>(end);
    const std::uint64_t wanted = count == 0 ? sourceLength : count;
    const bool copied = copyRange(in, out, start, bytesAvailable(sourceLength, start, wanted));
    in.close();
    out.close();
    if (!copied || out.fail()) {
        // A failed move leaves the target as a failed open does: there, but
        // empty, so that no half copy passes for the whole.
        emptyFile(target);
        return 0;
    }
    SecureErase(source);
    return 1;
}

std::uint64_t fileSize(const std::filesystem::path& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return 0;
    return static_cast<std::uint64_t>(status.st_size);
}

} // namespace quorvane
