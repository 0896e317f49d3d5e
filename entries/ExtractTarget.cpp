#include "entries/ExtractTarget.h"

#include "entries/FdOutputBuffer.h"
#include "entries/Messages.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane {

namespace text = entries_text;

ExtractFolder::ExtractFolder(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0)
        openError_ = errno;
}

ExtractFolder::~ExtractFolder() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool isPlainEntryName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

namespace {

TargetResult skipped(const char* why) {
    return {TargetOutcome::Skipped, why};
}
TargetResult failed(int error) {
    return {TargetOutcome::Failed, std::strerror(error)};
}

// Opens the target for writing, refusing anything but an ordinary file. The
// check before the open gives the clear reason; O_NOFOLLOW and the check after
// it close the window in which the name could be swapped for a link or a FIFO
// (O_NONBLOCK keeps a FIFO from blocking the open).
int openTarget(const ExtractFolder& folder, const std::string& name, TargetResult& refusal) {
    struct stat status {};
    if (::fstatat(folder.fd(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISREG(status.st_mode)) {
            refusal = skipped(text::TargetNotPlainFile);
            return -1;
        }
    } else if (errno != ENOENT) {
        refusal = failed(errno);
        return -1;
    }
    int fd = ::openat(folder.fd(), name.c_str(),
                      O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) {
        refusal = errno == ELOOP ? skipped(text::TargetNotPlainFile) : failed(errno);
        return -1;
    }
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        refusal = skipped(text::TargetNotPlainFile);
        return -1;
    }
    return fd;
}

} // namespace

TargetResult writeEntryFile(const ExtractFolder& folder, const std::string& name,
                            const std::function<bool(std::ostream&)>& writeContent) {
    if (!isPlainEntryName(name))
        return skipped(text::NameNotPlain);
    if (folder.fd() < 0)
        return failed(folder.openError());

    TargetResult result;
    int fd = openTarget(folder, name, result);
    if (fd < 0)
        return result;

    FdOutputBuffer buffer(fd);
    std::ostream out(&buffer);
    bool contentWhole = writeContent(out);
    out.flush();
    int writeError = buffer.error();
    if (::close(fd) != 0 && writeError == 0)
        writeError = errno;

    if (writeError == 0 && contentWhole && out.good())
        return {TargetOutcome::Written, ""};
    // A cut-off file under the entry's name would pass for the whole one.
    ::unlinkat(folder.fd(), name.c_str(), 0);
    std::string why = writeError != 0 ? std::strerror(writeError)
                      : contentWhole  ? std::strerror(EIO)
                                      : text::WorkingCopyUnreadable;
    return {TargetOutcome::Failed, why + "; the incomplete file was removed"};
}

} // namespace quorvane
