#include "mount/SafeAccess.h"

#include "entries/AddSteps.h"
#include "lifecycle/WorkingDirectory.h"
#include "storage/format/Container.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace quorvane {

struct StagedFile::Parts {
    std::filesystem::path path;
    int fd = -1;
};

StagedFile::StagedFile(std::unique_ptr<Parts> parts) : parts_(std::move(parts)) {}

StagedFile::~StagedFile() {
    if (parts_->fd >= 0)
        ::close(parts_->fd);
    std::error_code ignored;
    std::filesystem::remove(parts_->path, ignored);
}

std::uint64_t StagedFile::length() const {
    const off_t end = ::lseek(parts_->fd, 0, SEEK_END);
    return end < 0 ? 0 : static_cast<std::uint64_t>(end);
}

std::int64_t StagedFile::read(std::uint64_t offset, char* into, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got =
            ::pread(parts_->fd, into + done, count - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -errno;
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<std::int64_t>(done);
}

std::int64_t StagedFile::write(std::uint64_t offset, const char* from, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t put =
            ::pwrite(parts_->fd, from + done, count - done, static_cast<off_t>(offset + done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0)
            return -errno;
        done += static_cast<std::size_t>(put);
    }
    return static_cast<std::int64_t>(done);
}

int StagedFile::resize(std::uint64_t length) {
    return ::ftruncate(parts_->fd, static_cast<off_t>(length)) == 0 ? 0 : -errno;
}

std::size_t SafeAccess::entryCount() const {
    return std::min(state_.entryDetails.size(), state_.indexRows.size());
}

const std::string& SafeAccess::storedName(std::size_t row) const {
    return state_.entryDetails[row].name;
}

std::uint64_t SafeAccess::entrySize(std::size_t row) const {
    return state_.entryDetails[row].size;
}

bool SafeAccess::readOnly() const {
    return state_.readOnly || !isSafeOpen(state_);
}

bool SafeAccess::fits(std::uint64_t size) const {
    return !exceedsContainer(state_, size);
}

std::int64_t SafeAccess::read(std::size_t row, std::uint64_t offset, char* into,
                              std::size_t count) {
    if (row >= entryCount())
        return -ENOENT;
    const std::uint64_t size = entrySize(row);
    if (offset >= size)
        return 0;
    count = static_cast<std::size_t>(std::min<std::uint64_t>(count, size - offset));
    WorkingCopyFile& stream = state_.workingCopyStream;
    stream.clear();
    stream.seekg(
        static_cast<std::streamoff>(state_.indexRows[row].entryOffset + EntryHeaderSize + offset));
    stream.read(into, static_cast<std::streamsize>(count));
    const auto got = stream.gcount();
    if (static_cast<std::size_t>(got) != count) {
        stream.clear();
        return -EIO;
    }
    return got;
}

std::unique_ptr<StagedFile> SafeAccess::stage(int& error) {
    auto parts = std::make_unique<StagedFile::Parts>();
    parts->path = state_.workDir / ("folder-" + std::to_string(++stagedCount_));
    if (!createPrivateFile(parts->path)) {
        error = errno != 0 ? errno : EIO;
        return nullptr;
    }
    parts->fd = ::open(parts->path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (parts->fd < 0) {
        error = errno;
        std::error_code ignored;
        std::filesystem::remove(parts->path, ignored);
        return nullptr;
    }
    return std::unique_ptr<StagedFile>(new StagedFile(std::move(parts)));
}

int SafeAccess::copyEntry(std::size_t row, StagedFile& staged) {
    std::vector<char> buffer(1 << 20);
    const std::uint64_t size = entrySize(row);
    for (std::uint64_t done = 0; done < size;) {
        const std::int64_t got = read(row, done, buffer.data(), buffer.size());
        if (got <= 0)
            return got < 0 ? static_cast<int>(got) : -EIO;
        const std::int64_t put = staged.write(done, buffer.data(), static_cast<std::size_t>(got));
        if (put < 0)
            return static_cast<int>(put);
        done += static_cast<std::uint64_t>(got);
    }
    return 0;
}

int SafeAccess::reload() {
    const IndexReadReport report = readContainerIndex(state_.workingCopyStream, state_);
    if (!report.clean()) {
        state_.readOnly = true;
        return -EIO;
    }
    return 0;
}

int SafeAccess::store(StagedFile& staged, const std::string& name) {
    if (readOnly())
        return -EROFS;
    const std::uint64_t size = staged.length();
    if (!fits(size))
        return -EFBIG;
    const AppendResult result =
        appendEntry(state_.workingCopyStream, state_, staged.parts_->path.string(), name, size, {},
                    workingCopyPath(state_));
    const int reloaded = reload();
    if (result == AppendResult::TooLarge)
        return -EFBIG;
    if (result != AppendResult::Appended)
        return -EIO;
    return reloaded;
}

int SafeAccess::remove(std::size_t row) {
    if (readOnly())
        return -EROFS;
    const RemoveResult result =
        removeEntry(state_.workingCopyStream, state_, row, workingCopyPath(state_));
    if (result == RemoveResult::Torn)
        state_.readOnly = true;
    const int reloaded = reload();
    return result == RemoveResult::Removed ? reloaded : -EIO;
}

int SafeAccess::rename(std::size_t row, const std::string& name) {
    if (readOnly())
        return -EROFS;
    const bool renamed = renameEntry(state_.workingCopyStream, state_, row, makeEntryName(name));
    const int reloaded = reload();
    return renamed ? reloaded : -EIO;
}

} // namespace quorvane
