#include "storage/files/FileRoutines.h"

#include "storage/files/ErasePattern.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane {

namespace {

std::uint64_t roundUpToWholePatterns(std::uint64_t length) {
    const std::uint64_t patternSize = ErasePattern.size();
    return (length + patternSize - 1) / patternSize * patternSize;
}

} // namespace

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

std::uint64_t fileSize(const std::filesystem::path& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return 0;
    return static_cast<std::uint64_t>(status.st_size);
}

} // namespace quorvane
