#include "storage/AtomicReplace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <streambuf>
#include <system_error>
#include <vector>

namespace quorvane {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t WriteBufferSize = 64 * 1024;
constexpr int MaxLinkDepth = 40;

std::string reasonOf(int error) {
    return std::strerror(error);
}

// An output buffer straight over a file descriptor, so that every failed
// write(2) is seen with its errno (an ofstream keeps only a bad bit).
class DescriptorBuffer : public std::streambuf {
  public:
    explicit DescriptorBuffer(int fd) : fd_(fd), buffer_(WriteBufferSize) {
        setp(buffer_.data(), buffer_.data() + buffer_.size());
    }

    int lastError() const { return lastError_; }

  protected:
    int_type overflow(int_type ch) override {
        if (!drain())
            return traits_type::eof();
        if (!traits_type::eq_int_type(ch, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(ch);
            pbump(1);
        }
        return traits_type::not_eof(ch);
    }

    // Large pieces skip the buffer: the safe is written in 1 MiB blocks.
    std::streamsize xsputn(const char* data, std::streamsize count) override {
        if (count < static_cast<std::streamsize>(buffer_.size()))
            return std::streambuf::xsputn(data, count);
        if (!drain() || !writeAll(data, static_cast<std::size_t>(count)))
            return 0;
        return count;
    }

    int sync() override { return drain() ? 0 : -1; }

  private:
    bool drain() {
        const std::size_t pending = static_cast<std::size_t>(pptr() - pbase());
        const bool written = writeAll(pbase(), pending);
        setp(buffer_.data(), buffer_.data() + buffer_.size());
        return written;
    }

    bool writeAll(const char* data, std::size_t count) {
        while (count > 0) {
            const ssize_t written = ::write(fd_, data, count);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0) {
                lastError_ = written < 0 ? errno : ENOSPC;
                return false;
            }
            data += written;
            count -= static_cast<std::size_t>(written);
        }
        return true;
    }

    int fd_;
    std::vector<char> buffer_;
    int lastError_ = 0;
};

// Follows symbolic links by hand, so that a link whose target does not exist
// yet still leads to that target rather than being replaced itself.
fs::path resolveTarget(const fs::path& target, std::error_code& error) {
    if (fs::exists(target, error))
        return fs::canonical(target, error);
    // Absolute first: the folder of a bare file name must be a real path that
    // can be opened for its fsync.
    fs::path path = fs::absolute(target, error);
    if (error)
        return {};
    for (int depth = 0; depth < MaxLinkDepth && fs::is_symlink(fs::symlink_status(path)); ++depth) {
        const fs::path link = fs::read_symlink(path, error);
        if (error)
            return {};
        path = link.is_absolute() ? link : path.parent_path() / link;
    }
    error.clear();
    return fs::weakly_canonical(path, error);
}

struct FileOwnership {
    mode_t mode = 0600;
    std::optional<uid_t> owner;
    std::optional<gid_t> group;
};

FileOwnership ownershipOf(const fs::path& path) {
    FileOwnership ownership;
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0) {
        ownership.mode = status.st_mode & 07777;
        ownership.owner = status.st_uid;
        ownership.group = status.st_gid;
    }
    return ownership;
}

// The fresh file holds what the old one allowed, no more: its mode, and its
// owner where we may set it (only root may give a file away; failing that the
// new file is ours, as any newly saved file would be).
bool applyOwnership(int fd, const FileOwnership& ownership, int& error) {
    if (ownership.owner && (*ownership.owner != ::geteuid() || *ownership.group != ::getegid()))
        static_cast<void>(::fchown(fd, *ownership.owner, *ownership.group));
    if (::fchmod(fd, ownership.mode) != 0) {
        error = errno;
        return false;
    }
    return true;
}

bool syncFolder(const fs::path& folder, int& error) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return false;
    }
    const bool synced = ::fsync(fd) == 0;
    if (!synced)
        error = errno;
    ::close(fd);
    return synced;
}

struct FreshFile {
    fs::path path;
    int fd = -1;
};

std::optional<FreshFile> makeFreshFile(const fs::path& target, int& error) {
    std::string pattern =
        (target.parent_path() / (target.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return std::nullopt;
    }
    return FreshFile{pattern, fd};
}

// Writes the content and makes it durable. False with a reason on any failure.
bool fillFreshFile(int fd, const std::function<bool(std::ostream&, std::string&)>& writeContent,
                   const FileOwnership& ownership, std::string& reason) {
    DescriptorBuffer buffer(fd);
    std::ostream out(&buffer);
    std::string message;
    const bool written = writeContent(out, message);
    out.flush();
    if (!out) {
        reason = reasonOf(buffer.lastError() != 0 ? buffer.lastError() : EIO);
        return false;
    }
    if (!written) {
        reason = message;
        return false;
    }
    int error = 0;
    if (::fsync(fd) != 0) {
        reason = reasonOf(errno);
        return false;
    }
    if (!applyOwnership(fd, ownership, error)) {
        reason = reasonOf(error);
        return false;
    }
    return true;
}

} // namespace

ReplaceResult replaceFileAtomically(
    const std::filesystem::path& target,
    const std::function<bool(std::ostream& out, std::string& message)>& writeContent) {
    ReplaceResult result;
    std::error_code resolveError;
    const fs::path resolved = resolveTarget(target, resolveError);
    if (resolveError || resolved.filename().empty()) {
        result.reason = resolveError ? resolveError.message() : reasonOf(EISDIR);
        return result;
    }
    const FileOwnership ownership = ownershipOf(resolved);
    int error = 0;
    const std::optional<FreshFile> fresh = makeFreshFile(resolved, error);
    if (!fresh) {
        result.reason = reasonOf(error);
        return result;
    }
    bool done = false;
    try {
        done = fillFreshFile(fresh->fd, writeContent, ownership, result.reason);
    } catch (const std::exception& failure) {
        result.reason = failure.what();
    }
    if (::close(fresh->fd) != 0 && done) {
        result.reason = reasonOf(errno);
        done = false;
    }
    if (done && ::rename(fresh->path.c_str(), resolved.c_str()) != 0) {
        result.reason = reasonOf(errno);
        done = false;
    }
    if (!done) {
        ::unlink(fresh->path.c_str());
        return result;
    }
    // The new content is in place now; a folder that cannot be synced is still
    // reported, since the rename may not survive a crash.
    if (!syncFolder(resolved.parent_path(), error)) {
        result.reason = reasonOf(error);
        return result;
    }
    result.ok = true;
    return result;
}

} // namespace quorvane
