#include "mount/SafeAccess.h"

#include "entries/AddSteps.h"
#include "storage/format/Container.h"
#include "storage/format/ContainerIndex.h"
#include "storage/format/PlainContents.h"
#include "storage/workingcopy/WorkingCopy.h"

#include <algorithm>
#include <cerrno>
#include <unordered_set>
#include <vector>

namespace quorvane {

namespace {

// A failure of ours or the system's, as the errno a program sees.
int errnoOf(int error) {
    return error > 0 ? -error : -EIO;
}

int failureOf(const RandomAccessFile& file) {
    return errnoOf(file.lastError());
}

// A change that fails puts the container back as it was, and those writes
// succeed: the file's last failure is then none. This keeps the system's
// reason for the first one, which is the one the program that asked is told
// ("No space left on device", not "Input/output error").
class FirstFailure : public RandomAccessFile {
  public:
    explicit FirstFailure(RandomAccessFile& file) : file_(file) {}
    bool readAt(std::uint64_t offset, void* into, std::size_t count) override {
        return noted(file_.readAt(offset, into, count));
    }
    bool writeAt(std::uint64_t offset, const void* from, std::size_t count) override {
        return noted(file_.writeAt(offset, from, count));
    }
    std::uint64_t length() const override { return file_.length(); }
    bool resize(std::uint64_t length) override { return noted(file_.resize(length)); }
    bool sync() override { return noted(file_.sync()); }
    int lastError() const override { return file_.lastError(); }
    bool unchanged() override { return file_.unchanged(); }
    // -errno of the first failure, -EIO when none gave a reason.
    int failure() const { return first_ > 0 ? -first_ : -EIO; }

  private:
    bool noted(bool done) {
        if (!done && first_ == 0)
            first_ = file_.lastError();
        return done;
    }
    RandomAccessFile& file_;
    int first_ = 0;
};

// Runs a change on the session's contents. The plain container's is run
// through FirstFailure, so that the reason told is that of the first failure.
template <typename Change> auto changeContents(SafeState& state, Change change, int& failure) {
    if (!state.workingCopy) {
        auto result = change(contentsOf(state));
        failure = errnoOf(contentsOf(state).lastError());
        return result;
    }
    FirstFailure container(*state.workingCopy);
    PlainContents plain(container);
    auto result = change(plain);
    failure = container.failure();
    return result;
}

} // namespace

struct StagedFile::Parts {
    explicit Parts(std::filesystem::path path) : sectors(std::move(path)) {}
    WorkingCopy sectors;
};

StagedFile::StagedFile(std::unique_ptr<Parts> parts) : parts_(std::move(parts)) {}

StagedFile::~StagedFile() {
    parts_->sectors.discard();
}

std::uint64_t StagedFile::length() const {
    return parts_->sectors.length();
}

std::int64_t StagedFile::read(std::uint64_t offset, char* into, std::size_t count) {
    const std::uint64_t end = length();
    if (offset >= end)
        return 0;
    count = static_cast<std::size_t>(std::min<std::uint64_t>(count, end - offset));
    if (!parts_->sectors.readAt(offset, into, count))
        return failureOf(parts_->sectors);
    return static_cast<std::int64_t>(count);
}

std::int64_t StagedFile::write(std::uint64_t offset, const char* from, std::size_t count) {
    if (!parts_->sectors.writeAt(offset, from, count))
        return failureOf(parts_->sectors);
    return static_cast<std::int64_t>(count);
}

int StagedFile::resize(std::uint64_t length) {
    return parts_->sectors.resize(length) ? 0 : failureOf(parts_->sectors);
}

std::size_t SafeAccess::entryCount() const {
    return std::min(state_.entryDetails.size(), state_.indexRows.size());
}

const std::string& SafeAccess::storedName(std::size_t row) const {
    return state_.entryDetails[row].name;
}

bool SafeAccess::namesAreUnique() const {
    return state_.vault != nullptr;
}

std::string SafeAccess::freeStoredName(const std::string& name) const {
    std::unordered_set<std::string> taken;
    for (std::size_t row = 0; row < entryCount(); ++row)
        taken.insert(storedName(row));
    for (unsigned number = 1;; ++number) {
        std::string candidate = ".quorvane-replacing-" + std::to_string(number) + "-" + name;
        if (!taken.contains(candidate))
            return candidate;
    }
}

std::uint64_t SafeAccess::entrySize(std::size_t row) const {
    // The list's row keeps the low 32 bits; a tree's entry has them all.
    if (keepsTree())
        if (const auto entry = entryAt(storedName(row)))
            return entry->size;
    return state_.entryDetails[row].size;
}

bool SafeAccess::readOnly() const {
    return state_.readOnly || !isSafeOpen(state_);
}

bool SafeAccess::fits(std::uint64_t size) const {
    return fitsContents(contentsOf(state_), state_, size);
}

bool SafeAccess::noteSafeChanged() {
    if (safeChangedSeen_ || !isSafeOpen(state_) || contentsOf(state_).unchanged())
        return false;
    safeChangedSeen_ = true;
    state_.readOnly = true;
    return true;
}

std::uint64_t SafeAccess::room() const {
    return contentsOf(state_).room(state_);
}

std::int64_t SafeAccess::read(std::size_t row, std::uint64_t offset, char* into,
                              std::size_t count) {
    if (!isSafeOpen(state_) || row >= entryCount())
        return -ENOENT;
    const std::int64_t got = contentsOf(state_).read(state_, row, offset, into, count);
    return got < 0 ? errnoOf(contentsOf(state_).lastError()) : got;
}

std::unique_ptr<StagedFile> SafeAccess::stage(int& error) {
    // The sector file is made at the first write, in the private working folder.
    const std::filesystem::path path =
        state_.workDir / ("folder-" + std::to_string(++stagedCount_));
    try {
        return std::unique_ptr<StagedFile>(
            new StagedFile(std::make_unique<StagedFile::Parts>(path)));
    } catch (const std::bad_alloc&) {
        error = ENOMEM;
        return nullptr;
    }
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

int SafeAccess::storeAt(StagedFile& staged, const std::string& path, const EntryStamp& stamp) {
    if (readOnly())
        return -EROFS;
    // The folder's time moved when the file was created, as on a disk; its
    // content stored now (or later, after the window's turn) is no new name.
    const auto slash = path.rfind('/');
    const std::optional<ContentEntry> folder =
        slash == std::string::npos ? std::nullopt : entryAt(path.substr(0, slash));
    FirstFailure source(staged.parts_->sectors);
    int failure = 0;
    const AppendResult result = changeContents(
        state_,
        [&](SafeContents& contents) {
            return contents.addEntry(state_, source, path, staged.length(), stamp,
                                     OnExisting::Replace);
        },
        failure);
    switch (result) {
    case AppendResult::Appended:
        if (folder)
            contentsOf(state_).setStamp(state_, folder->path, folder->stamp);
        return 0;
    case AppendResult::TooLarge:
        return -EFBIG;
    case AppendResult::SourceUnreadable:
        return source.failure();
    case AppendResult::WriteFailed:
        break;
    }
    return failure;
}

int SafeAccess::store(StagedFile& staged, const std::string& name) {
    if (readOnly())
        return -EROFS;
    const std::uint64_t size = staged.length();
    if (!fits(size))
        return -EFBIG;
    // A failed append puts the container back as it was.
    FirstFailure source(staged.parts_->sectors);
    int failure = 0;
    const AppendResult result = changeContents(
        state_, [&](SafeContents& contents) { return contents.add(state_, source, name, size); },
        failure);
    switch (result) {
    case AppendResult::Appended:
        return 0;
    case AppendResult::TooLarge:
        return -EFBIG;
    case AppendResult::SourceUnreadable:
        return source.failure();
    case AppendResult::WriteFailed:
        break;
    }
    return failure;
}

int SafeAccess::remove(std::size_t row) {
    if (readOnly())
        return -EROFS;
    int failure = 0;
    const RemoveResult result = changeContents(
        state_, [&](SafeContents& contents) { return contents.remove(state_, row); }, failure);
    switch (result) {
    case RemoveResult::Removed:
        return 0;
    case RemoveResult::Torn:
        // Records moved half-way no longer fit the index: never to be saved.
        state_.readOnly = true;
        break;
    case RemoveResult::Failed:
        break;
    }
    return failure;
}

int SafeAccess::rename(std::size_t row, const std::string& name) {
    if (readOnly())
        return -EROFS;
    if (contentsOf(state_).rename(state_, row, name))
        return 0;
    // A name field written in part is neither name: as the window does. A
    // vault's rename changes nothing until it succeeds.
    if (!state_.vault)
        state_.readOnly = true;
    return errnoOf(contentsOf(state_).lastError());
}

} // namespace quorvane
