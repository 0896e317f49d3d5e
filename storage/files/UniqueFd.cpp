#include "storage/files/UniqueFd.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace quorvane {

void UniqueFd::reset(int fd) noexcept {
    if (fd_ >= 0 && fd_ != fd)
        ::close(fd_);
    fd_ = fd;
}

int UniqueFd::close() noexcept {
    if (fd_ < 0)
        return 0;
    // Linux frees the descriptor even when close(2) fails (EINTR included), so
    // it is never closed a second time.
    const int result = ::close(std::exchange(fd_, -1));
    return result == 0 ? 0 : errno;
}

FolderListing listFolder(int fd) {
    UniqueFd copy(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
    if (!copy)
        return nullptr;
    DIR* listing = ::fdopendir(copy.get());
    if (listing == nullptr)
        return nullptr;
    // From here closedir closes the copy. It shares the folder's offset, which
    // an earlier listing may have left at the end.
    copy.release();
    ::rewinddir(listing);
    return FolderListing(listing);
}

} // namespace quorvane
