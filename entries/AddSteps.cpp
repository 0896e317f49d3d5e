#include "entries/AddSteps.h"

#include "entries/ListRefresh.h"
#include "entries/Messages.h"
#include "lifecycle/EntryListing.h"
#include "lifecycle/Lifecycle.h"
#include "lifecycle/LifecycleTexts.h"
#include "storage/files/FileRoutines.h"
#include "storage/files/OriginalErase.h"
#include "storage/files/UniqueFd.h"
#include "storage/format/Container.h"
#include "storage/workingcopy/PlainFile.h"

#include <cerrno>
#include <cstring>
#include <ctime>
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

std::string storedPathOf(const SafeState& state, const SourceFile& source) {
    if (state.vault != nullptr && !source.storedPath.empty())
        return source.storedPath;
    const std::string name = storedNameOf(source.path);
    return state.vault != nullptr ? name : fittedEntryName(name);
}

bool exceedsContainer(SafeState& state, std::uint64_t size) {
    return !fitsContents(contentsOf(state), state, size);
}

bool measureSource(Session& session, const std::string& path, SourceFile& source,
                   const std::string& consequence) {
    source.path = path;
    source.size = fileSize(path);
    const auto refuse = [&](const std::string& why) {
        session.shell.talk.showMessage(consequence.empty() ? why : why + "\n" + consequence,
                                       text::CaptionError, MessageIcon::Error);
        return false;
    };
    if (source.size == 0)
        return refuse(text::unableToGetFilesizeOf(path));
    if (exceedsContainer(session.state, source.size))
        return refuse(text::fileTooLargeFor(path));
    source.before = takeSourceSnapshot(path);
    return true;
}

namespace {

// The system's reason why a source that appendEntry could not read in full is
// unreadable, as far as it can be found out afterwards.
std::string describeUnreadableSource(const std::string& path, std::uint64_t expectedSize) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd)
        return std::strerror(errno);
    struct stat status {};
    if (::fstat(fd.get(), &status) == 0 && S_ISDIR(status.st_mode))
        return std::strerror(EISDIR);
    if (::fstat(fd.get(), &status) == 0 &&
        static_cast<std::uint64_t>(status.st_size) != expectedSize)
        return text::sourceLengthChanged(status.st_size, expectedSize);
    return text::SourceNotReadInFull;
}

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
        message = session.state.vault
                      ? text::vaultAddRefused(source.path, session.state.vault->lastError())
                      : text::safeNotWritten(source.path);
        break;
    }
    session.shell.talk.showMessage(message, text::CaptionError, MessageIcon::Error);
}

} // namespace

EntryStamp stampOfSource(const std::string& path) {
    EntryStamp stamp;
    stamp.modifiedSeconds = static_cast<std::int64_t>(std::time(nullptr));
    stamp.mode = 0700;
    struct stat status {};
    if (path.empty() || ::stat(path.c_str(), &status) != 0)
        return stamp;
    stamp.modifiedSeconds = static_cast<std::int64_t>(status.st_mtim.tv_sec);
    stamp.modifiedNanoseconds = static_cast<std::uint32_t>(status.st_mtim.tv_nsec);
    stamp.mode = static_cast<std::uint16_t>(status.st_mode & 0700);
    return stamp;
}

bool storeSource(Session& session, const SourceFile& source, const std::string& progressText,
                 const std::string& storedName) {
    Shell& shell = session.shell;
    if (refuseIfReadOnly(session))
        return false;
    shell.busy.ShowProgress(progressText);
    // The caller's path for it, else its stored path or its name fitted to the field.
    const std::string name = storedName.empty() ? storedPathOf(session.state, source) : storedName;
    const ProgressCallback progress = shell.busy.byteProgress();
    AppendResult result = AppendResult::SourceUnreadable;
    int error = 0;
    const std::unique_ptr<PlainFile> from = PlainFile::open(source.path, O_RDONLY, error);
    const auto append = [&] {
        SafeContents& contents = contentsOf(session.state);
        if (!contents.keepsTree()) {
            result = contents.add(session.state, *from, name, source.size, progress);
            return;
        }
        // A safe that keeps times keeps the file's own, and its owner's bits.
        struct stat status {};
        EntryStamp stamp{source.before.modifiedSeconds,
                         static_cast<std::uint32_t>(source.before.modifiedNanoseconds), 0600};
        if (::fstat(from->fd(), &status) == 0)
            stamp.mode = static_cast<std::uint16_t>(status.st_mode & 0700u);
        result = contents.addEntry(session.state, *from, name, source.size, stamp,
                                   source.replacesEntry ? OnExisting::Replace : OnExisting::Refuse,
                                   progress);
    };
    if (from && source.size <= ShortCopyLimit)
        shell.busy.runShortStep(append);
    else if (from)
        shell.busy.runBusy(append);
    if (result == AppendResult::Appended) {
        shell.busy.HideProgress();
        showAddedRow(session.state, shell);
        return true;
    }
    // The container was put back as it was; the list is read from it again.
    hideProgressAndRefresh(session);
    reportAppendFailure(session, source, result);
    return false;
}

bool saveBeforeErasing(Session& session) {
    const WriteResult saved = writeSafeFile(session, lifecycle_text::Saving);
    if (saved.written())
        return true;
    showSaveFailed(session, *saved.failure);
    return false;
}

namespace {

// What to tell the user when the original may not be erased; empty when it
// was opened to be.
std::string refusalOf(const SourceFile& source, const OriginalOpenResult& opening) {
    switch (opening.outcome) {
    case OriginalCheck::Opened:
        return "";
    case OriginalCheck::IsLink:
        return text::originalIsLinkNotErased(source.path);
    case OriginalCheck::Changed:
        return text::originalChangedNotErased(source.path);
    case OriginalCheck::HasOtherNames:
        return text::originalHasOtherNamesNotErased(source.path);
    case OriginalCheck::Failed:
        break;
    }
    return text::originalNotErased(source.path, std::strerror(opening.error));
}

// What to tell the user about the overwrite and the unlink, empty when all
// went well.
std::string problemOf(const SourceFile& source, const OriginalEraseResult& erasing) {
    switch (erasing.outcome) {
    case OriginalErase::Erased:
        return "";
    case OriginalErase::NameNowAnotherFile:
        return text::originalNameNowAnotherFile(source.path);
    case OriginalErase::OverwriteFailed:
        break;
    }
    return text::originalNotErased(source.path, std::strerror(erasing.error));
}

} // namespace

void eraseOriginal(Session& session, const SourceFile& source) {
    Shell& shell = session.shell;
    OriginalToErase original;
    std::string refusal =
        refusalOf(source, openOriginalToErase(source.path, source.before, source.size, original));
    if (!refusal.empty()) {
        shell.talk.showMessage(refusal, text::CaptionError, MessageIcon::Error);
        return;
    }
    shell.busy.ShowProgress(text::RemovingOriginalFile);
    OriginalEraseResult erasing;
    EraseReach reach;
    shell.busy.runBusy([&] {
        // Judged on the descriptor about to be overwritten, and before: the
        // overwrite itself may move the extents it would be judged by.
        reach = session.assessErase(original.file.get());
        erasing = eraseAndUnlink(original);
    });
    shell.busy.HideProgress();
    const std::string problem = problemOf(source, erasing);
    if (!problem.empty())
        shell.talk.showMessage(problem, text::CaptionError, MessageIcon::Error);
    else if (erasing.deleted && !reach.reaches)
        shell.talk.showMessage(text::erasedButRecoverable(source.path, reach),
                               text::CaptionDeleteOriginal, MessageIcon::Information);
}

} // namespace quorvane
