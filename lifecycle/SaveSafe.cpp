#include "lifecycle/Lifecycle.h"
#include "lifecycle/LifecycleTexts.h"
#include "lifecycle/SafeFileWriting.h"
#include "storage/SafeCipher.h"

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

void showSaveFailed(Shell& shell) {
    shell.showMessage(lifecycle_text::FailedToSave, lifecycle_text::Error, MessageIcon::Error);
}

} // namespace

bool writeSafeFile(Session& session, const std::string& progressText) {
    SafeState& state = session.state;
    Shell& shell = session.shell;
    if (!isSafeOpen(state))
        return false;
    shell.ShowProgress(progressText);
    bool written =
        flushWorkingCopy(state) &&
        encryptFileOnto(shell, workingCopyPath(state), state.safePath,
                        derivePasswordKey(state.password), state.cipherFailed, state.cipherMessage);
    shell.HideProgress();
    return written;
}

bool saveBeforeSwitching(Session& session) {
    if (!isSafeOpen(session.state))
        return true;
    if (writeSafeFile(session, lifecycle_text::Saving))
        return true;
    showSaveFailed(session.shell);
    return false;
}

void saveSafe(Session& session) {
    if (isSafeOpen(session.state) && !writeSafeFile(session, lifecycle_text::Saving)) {
        showSaveFailed(session.shell);
        return;
    }
    session.shell.showMessage(lifecycle_text::ChangesSaved, lifecycle_text::SuccessBang,
                              MessageIcon::Information);
}

} // namespace quorvane
