#include "lifecycle/SafeReadable.h"

#include "lifecycle/LifecycleTexts.h"
#include "storage/files/UniqueFd.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane {

bool safeIsReadable(const std::string& path, std::string& reason) {
    reason.clear();
    // O_NONBLOCK: a FIFO at the path must not hold the check up, waiting for a writer.
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd) {
        reason = std::strerror(errno);
        return false;
    }
    struct stat status {};
    const bool known = ::fstat(fd.get(), &status) == 0;
    const int statError = errno;
    if (!known)
        reason = std::strerror(statError);
    else if (S_ISDIR(status.st_mode))
        reason = std::strerror(EISDIR);
    else if (!S_ISREG(status.st_mode))
        reason = lifecycle_text::NotARegularFile;
    return reason.empty();
}

} // namespace quorvane
