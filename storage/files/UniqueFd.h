#pragma once

// The one owner of a file descriptor: closed when it goes out of scope, moved
// (never copied) from one owner to the next, so that no branch of a routine
// has to remember which descriptors it opened. The only place that calls
// close(2) for a descriptor the program opened itself.

#include <dirent.h>
#include <memory>
#include <utility>

namespace quorvane {

class UniqueFd {
  public:
    UniqueFd() = default;
    // Takes over fd (an open descriptor, or -1 for none).
    explicit UniqueFd(int fd) noexcept : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const noexcept { return fd_; }
    bool valid() const noexcept { return fd_ >= 0; }
    explicit operator bool() const noexcept { return valid(); }

    // Gives the descriptor up without closing it: the caller owns it now.
    int release() noexcept { return std::exchange(fd_, -1); }
    // Closes the descriptor held (its failure unseen) and holds fd instead.
    void reset(int fd = -1) noexcept;
    // Closes the descriptor now: 0, or the errno of close(2). For a file just
    // written, where a network file system reports a failed write only here.
    int close() noexcept;

  private:
    int fd_ = -1;
};

// A listing of the folder open on fd, read with readdir. It has a descriptor
// of its own (a duplicate), so that the folder's stays the caller's; null
// when the folder cannot be listed.
struct FolderListingCloser {
    void operator()(DIR* listing) const noexcept { ::closedir(listing); }
};
using FolderListing = std::unique_ptr<DIR, FolderListingCloser>;
FolderListing listFolder(int fd);

} // namespace quorvane
