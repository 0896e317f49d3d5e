#include "cli/OutputReader.h"

#include <cerrno>
#include <poll.h>

namespace quorvane {

// EPIPE says so when the failed write's errno is at hand; a stream that
// kept no errno is asked instead: poll reports POLLERR on the writing end of
// a pipe without a reader, and never for a file on a full disk.
bool outputReaderGone(int fd, int writeError) {
    if (writeError == EPIPE)
        return true;
    pollfd output{fd, POLLOUT, 0};
    return ::poll(&output, 1, 0) == 1 && (output.revents & POLLERR) != 0;
}

} // namespace quorvane
