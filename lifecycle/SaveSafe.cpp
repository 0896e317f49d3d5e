#include "lifecycle/Lifecycle.h"
#include "lifecycle/LifecycleTexts.h"
#include "lifecycle/SafeFileWriting.h"
#include "storage/format/SafeCipher.h"

namespace quorvane {

namespace {

// Pushes what the entry operations wrote through workingCopyStream to the file,
// where the encryption reads it through a stream of its own. The error state is
// cleared first: a stream that saw the end of the file would not flush at all.
bool flushWorkingCopy(SafeState& state) {
    state.workingCopyStream.clear();
    state.workingCopyStream.flush();
    return !state.workingCopyStream.fail();
}

} // namespace

void showSaveFailed(Session& session) {
    session.shell.showMessage(withReason(lifecycle_text::FailedToSave, session.state.failureReason),
                              lifecycle_text::Error, MessageIcon::Error);
}

std::string withReason(const std::string& text, const std::string& reason) {
    return reason.empty() ? text : text + "\n" + reason;
}

bool refuseIfReadOnly(Session& session) {
    if (!isSafeOpen(session.state) || !session.state.readOnly)
        return false;
    session.shell.showMessage(lifecycle_text::ReadOnlySafe, lifecycle_text::Error,
                              MessageIcon::Error);
    return true;
}

bool writeSafeFile(Session& session, const std::string& progressText, AfterWrite after) {
    SafeState& state = session.state;
    Shell& shell = session.shell;
    if (!isSafeOpen(state))
        return false;
    // The last line of defence: whatever asked for the write, a session that
    // did not load cleanly never reaches the safe file.
    if (state.readOnly) {
        state.failureReason = lifecycle_text::ReadOnlySafe;
        return false;
    }
    shell.ShowProgress(progressText);
    state.failureReason.clear();
    bool written =
        flushWorkingCopy(state) && encryptFileOnto(shell, state.workingCopyStream, state.safePath,
                                                   derivePasswordKey(state.password), state,
                                                   &state.safeLock, state.sealedKey.get());
    if (written && after == AfterWrite::EndSession)
        shell.runBusy([&] { discardWorkingCopy(state); });
    shell.HideProgress();
    return written;
}

bool saveBeforeSwitching(Session& session, AfterWrite after) {
    // A read-only session has nothing that may be written; the switch ends it.
    if (!isSafeOpen(session.state) || session.state.readOnly)
        return true;
    if (writeSafeFile(session, lifecycle_text::Saving, after))
        return true;
    showSaveFailed(session);
    return false;
}

void saveSafe(Session& session) {
    if (refuseIfReadOnly(session))
        return;
    if (isSafeOpen(session.state) && !writeSafeFile(session, lifecycle_text::Saving)) {
        showSaveFailed(session);
        return;
    }
    session.shell.showMessage(lifecycle_text::ChangesSaved, lifecycle_text::SuccessBang,
                              MessageIcon::Information);
}

} // namespace quorvane
