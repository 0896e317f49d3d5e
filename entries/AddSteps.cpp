#include "entries/AddSteps.h"

#include "entries/ListRefresh.h"
#include "entries/Messages.h"
#include "lifecycle/Lifecycle.h"
#include "lifecycle/LifecycleTexts.h"
#include "storage/Container.h"
#include "storage/FileRoutines.h"

#include <filesystem>

namespace quorvane {

namespace text = entries_text;

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
        session.shell.showMessage(text::UnableToGetFilesize, text::CaptionError,
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
    AppendResult result = AppendResult::WriteFailed;
    shell.runBusy([&] {
        result = appendEntry(session.state.workingCopyStream, session.state, source.path,
                             storedName, source.size, progress, workingCopyPath(session.state));
    });
    hideProgressAndRefresh(session);
    if (result == AppendResult::Appended)
        return true;
    reportAppendFailure(session, source, result);
    return false;
}

bool saveBeforeErasing(Session& session) {
    if (writeSafeFile(session, lifecycle_text::Saving))
        return true;
    showSaveFailed(session);
    return false;
}

void eraseOriginal(Session& session, const SourceFile& source) {
    Shell& shell = session.shell;
    const SourceSnapshot now = takeSourceSnapshot(source.path);
    if (source.before.size != source.size || !stillSameFile(source.before, now)) {
        shell.showMessage(text::originalChangedNotErased(source.path), text::CaptionError,
                          MessageIcon::Error);
        return;
    }
    shell.ShowProgress(text::RemovingOriginalFile);
    shell.runBusy([&] {
        SecureErase(source.path);
        SecureErase(source.path);
        std::error_code ignored; // the original program leaves a failed deletion unreported
        std::filesystem::remove(source.path, ignored);
    });
    shell.HideProgress();
}

} // namespace quorvane
