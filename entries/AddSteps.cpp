#include "entries/AddSteps.h"

#include "entries/ListRefresh.h"
#include "entries/Messages.h"
#include "lifecycle/EntryListing.h"
#include "lifecycle/Lifecycle.h"
#include "lifecycle/LifecycleTexts.h"
#include "storage/files/FileRoutines.h"
#include "storage/format/Container.h"
#include "storage/workingcopy/PlainFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane {

namespace text = entries_text;

namespace {

// Up to this size a copy is a short step (see Shell::runShortStep).
constexpr std::uint64_t ShortCopyLimit = 4 * StreamBlockSize;

} // namespace

std::string storedNameOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool exceedsContainer(const ContainerIndex& index, std::uint64_t size) {
    if (size > ContainerLimit)
        return true;
    std::uint64_t newEnd = std::uint64_t{index.indexOffset} + EntryHeaderSize + size +
                           IndexRowSize * (std::uint64_t{index.entryCount} + 1);
    return newEnd > ContainerLimit;
}

bool measureSource(Session& session, const std::string& path, SourceFile& source) {
    source.path = path;
    source.size = fileSize(path);
    if (source.size == 0) {
        session.shell.showMessage(text::unableToGetFilesizeOf(path), text::CaptionError,
                                  MessageIcon::Error);
        return false;
    }
    if (exceedsContainer(session.state, source.size)) {
        session.shell.showMessage(text::fileTooLargeFor(path), text::CaptionError,
                                  MessageIcon::Error);
        return false;
    }
    source.before = takeSourceSnapshot(path);
    return true;
}

namespace {

void reportAppendFailure(Session& session, const SourceFile& source, AppendResult result) {
    std::string message;
    switch (result) {
    case AppendResult::TooLarge:
        message = text::fileTooLargeFor(source.path);
        break;
    case AppendResult::SourceUnreadable:
        message =
            text::sourceUnreadable(source.path, describeUnreadableSource(source.path, source.size));
        break;
    case AppendResult::WriteFailed:
    case AppendResult::Appended:
        message = text::safeNotWritten(source.path);
        break;
    }
    session.shell.showMessage(message, text::CaptionError, MessageIcon::Error);
}

} // namespace

bool storeSource(Session& session, const SourceFile& source, const std::string& progressText) {
    Shell& shell = session.shell;
    if (refuseIfReadOnly(session))
        return false;
    shell.ShowProgress(progressText);
    const std::string storedName = storedNameOf(source.path);
    const ProgressCallback progress = shell.byteProgress();
    AppendResult result = AppendResult::SourceUnreadable;
    int error = 0;
    const std::unique_ptr<PlainFile> from = PlainFile::open(source.path, O_RDONLY, error);
    const auto append = [&] {
        result = appendEntry(*session.state.workingCopy, session.state, *from, storedName,
                             source.size, progress);
    };
    if (from && source.size <= ShortCopyLimit)
        shell.runShortStep(append);
    else if (from)
        shell.runBusy(append);
    if (result == AppendResult::Appended) {
        shell.HideProgress();
        showAddedRow(session.state, shell);
        return true;
    }
    // The container was put back as it was; the list is read from it again.
    hideProgressAndRefresh(session);
    reportAppendFailure(session, source, result);
    return false;
}

bool saveBeforeErasing(Session& session) {
    if (writeSafeFile(session, lifecycle_text::Saving))
        return true;
    showSaveFailed(session);
    return false;
}

namespace {

// The original, opened once together with the folder that holds it, so that
// the overwrite, the check of the name and the unlink all reach the same file
// and the same folder, whatever is renamed or swapped in between.
struct OpenedOriginal {
    OpenedOriginal() = default;
    OpenedOriginal(const OpenedOriginal&) = delete;
    OpenedOriginal& operator=(const OpenedOriginal&) = delete;
    ~OpenedOriginal() {
        if (file >= 0)
            ::close(file);
        if (folder >= 0)
            ::close(folder);
    }

    int folder = -1;
    int file = -1;
    std::string name;
    dev_t device = 0;
    ino_t inode = 0;
};

std::string folderOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Opens the original if it may be erased; else the reason to tell the user.
std::string openOriginal(const SourceFile& source, OpenedOriginal& original) {
    // Overwriting through a link would destroy whatever file it points to.
    if (source.before.symbolicLink)
        return text::originalIsLinkNotErased(source.path);
    const std::string changed = text::originalChangedNotErased(source.path);
    if (!source.before.taken || source.before.size != source.size)
        return changed;
    original.folder = ::open(folderOf(source.path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (original.folder < 0)
        return errno == ENOENT ? changed
                               : text::originalNotErased(source.path, std::strerror(errno));
    original.name = storedNameOf(source.path);
    // O_NOFOLLOW: a link put in the original's place since it was stored is
    // refused (ELOOP), not followed; O_NONBLOCK: a FIFO there does not hang us.
    original.file = ::openat(original.folder, original.name.c_str(),
                             O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (original.file < 0)
        return errno == ENOENT || errno == ELOOP
                   ? changed
                   : text::originalNotErased(source.path, std::strerror(errno));
    struct stat status {};
    if (::fstat(original.file, &status) != 0)
        return text::originalNotErased(source.path, std::strerror(errno));
    if (!stillSameFile(source.before, snapshotOf(status)))
        return changed;
    // Another name would lose its content to the overwrite, and removing this
    // name alone would leave the data on the disk.
    if (status.st_nlink > 1)
        return text::originalHasOtherNamesNotErased(source.path);
    original.device = status.st_dev;
    original.inode = status.st_ino;
    return "";
}

// Two overwrites through the descriptor, then the name is removed if it still
// names that file. What to tell the user, empty when all went well; deleted
// says whether the name is gone.
std::string overwriteAndUnlink(const SourceFile& source, const OpenedOriginal& original,
                               bool& deleted) {
    for (int pass = 0; pass < 2; ++pass)
        if (int error = SecureEraseOpenFile(original.file); error != 0)
            return text::originalNotErased(source.path, std::strerror(error));
    struct stat now {};
    if (::fstatat(original.folder, original.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) {
        deleted = true; // the name is gone already; the content was overwritten all the same
        return "";
    }
    if (now.st_dev != original.device || now.st_ino != original.inode)
        return text::originalNameNowAnotherFile(source.path);
    // The original program leaves a failed deletion unreported.
    deleted = ::unlinkat(original.folder, original.name.c_str(), 0) == 0;
    return "";
}

} // namespace

void eraseOriginal(Session& session, const SourceFile& source) {
    Shell& shell = session.shell;
    OpenedOriginal original;
    std::string refusal = openOriginal(source, original);
    if (!refusal.empty()) {
        shell.showMessage(refusal, text::CaptionError, MessageIcon::Error);
        return;
    }
    shell.ShowProgress(text::RemovingOriginalFile);
    std::string problem;
    bool deleted = false;
    EraseReach reach;
    shell.runBusy([&] {
        // Judged on the descriptor about to be overwritten, and before: the
        // overwrite itself may move the extents it would be judged by.
        reach = session.assessErase(original.file);
        problem = overwriteAndUnlink(source, original, deleted);
    });
    shell.HideProgress();
    if (!problem.empty())
        shell.showMessage(problem, text::CaptionError, MessageIcon::Error);
    else if (deleted && !reach.reaches)
        shell.showMessage(text::erasedButRecoverable(source.path, reach),
                          text::CaptionDeleteOriginal, MessageIcon::Information);
}

} // namespace quorvane
