#include "entries/ExtractTarget.h"

#include "entries/FdOutputBuffer.h"
#include "entries/Messages.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
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

// The existing target may only be an ordinary file, which the fresh file then
// replaces; anything else under the name (a folder, a link, a FIFO) is left
// alone. The rename below never follows a link, so this check only has to
// give the clear reason.
bool targetRefused(const ExtractFolder& folder, const std::string& name, TargetResult& refusal) {
    struct stat status {};
    if (::fstatat(folder.fd(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISREG(status.st_mode))
            return false;
        refusal = skipped(text::TargetNotPlainFile);
        return true;
    }
    if (errno == ENOENT)
        return false;
    refusal = failed(errno);
    return true;
}

// Creates a new, empty file under a name nobody else uses, in the folder of
// the target: O_EXCL makes sure it is ours and no link or existing file
// (which may be a hard link to a file elsewhere) is ever written through.
int createFreshFile(const ExtractFolder& folder, std::string& freshName, int& error) {
    // Process, counter and clock make a clash unlikely; O_EXCL makes it harmless.
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto tick = static_cast<unsigned long long>(
            std::chrono::steady_clock::now().time_since_epoch().count());
        char name[80];
        std::snprintf(name, sizeof name, ".quorvane-extract-%ld-%u-%llx",
                      static_cast<long>(::getpid()), counter++, tick);
        int fd =
            ::openat(folder.fd(), name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            freshName = name;
            return fd;
        }
        if (errno != EEXIST) {
            error = errno;
            return -1;
        }
    }
    error = EEXIST;
    return -1;
}

// Fills the open fresh file; the system's reason (or ours) when it failed.
std::string fillFreshFile(int fd, const std::function<bool(std::ostream&)>& writeContent) {
    FdOutputBuffer buffer(fd);
    std::ostream out(&buffer);
    bool contentWhole = writeContent(out);
    out.flush();
    int writeError = buffer.error();
    if (::close(fd) != 0 && writeError == 0)
        writeError = errno;
    if (writeError == 0 && contentWhole && out.good())
        return "";
    return writeError != 0 ? std::strerror(writeError)
           : contentWhole  ? std::strerror(EIO)
                           : text::WorkingCopyUnreadable;
}

} // namespace

TargetResult writeEntryFile(const ExtractFolder& folder, const std::string& name,
                            const std::function<bool(std::ostream&)>& writeContent) {
    if (!isPlainEntryName(name))
        return skipped(text::NameNotPlain);
    if (folder.fd() < 0)
        return failed(folder.openError());

    TargetResult refusal;
    if (targetRefused(folder, name, refusal))
        return refusal;
    std::string freshName;
    int createError = 0;
    int fd = createFreshFile(folder, freshName, createError);
    if (fd < 0)
        return failed(createError);

    std::string why = fillFreshFile(fd, writeContent);
    if (why.empty()) {
        // Replaces the directory entry only: whatever the name stood for
        // before keeps its content, wherever else it is linked.
        if (::renameat(folder.fd(), freshName.c_str(), folder.fd(), name.c_str()) == 0)
            return {TargetOutcome::Written, ""};
        why = std::string(std::strerror(errno)) + "; the extracted copy was removed";
        ::unlinkat(folder.fd(), freshName.c_str(), 0);
        return {TargetOutcome::Failed, why};
    }
    // A cut-off file must not stay behind, under any name.
    ::unlinkat(folder.fd(), freshName.c_str(), 0);
    return {TargetOutcome::Failed, why + "; the incomplete file was removed"};
}

} // namespace quorvane
