#include "lifecycle/SafeReadable.h"

#include "lifecycle/LifecycleTexts.h"
#include "storage/files/UniqueFd.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane {

namespace {

Failure systemFailure(int error) {
    return Failure{error, std::strerror(error)};
}

} // namespace

std::optional<Failure> safeNotReadable(const std::string& path) {
    // O_NONBLOCK: a FIFO at the path must not hold the check up, waiting for a writer.
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd)
        return systemFailure(errno);
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0)
        return systemFailure(errno);
    if (S_ISDIR(status.st_mode))
        return systemFailure(EISDIR);
    if (!S_ISREG(status.st_mode))
        return Failure{0, lifecycle_text::NotARegularFile};
    return std::nullopt;
}

} // namespace quorvane
