#include "lifecycle/EntryListing.h"
#include "lifecycle/Lifecycle.h"
#include "lifecycle/LifecycleTexts.h"
#include "storage/SafeCipher.h"

#include <exception>
#include <system_error>

namespace quorvane {

namespace {

void showError(Shell& shell, const char* text, const char* caption = lifecycle_text::Error) {
    shell.showMessage(text, caption, MessageIcon::Error);
}

// Decrypts the safe at source into the working copy. A refused decryption
// leaves no working copy behind (decryptSafeFile removes what it wrote).
void decryptIntoWorkingCopy(Session& session, const std::string& source) {
    SafeState& state = session.state;
    const std::string key = derivePasswordKey(state.password);
    const std::filesystem::path target = workingCopyPath(state);
    ProgressCallback progress = session.shell.byteProgress();
    session.shell.runBusy([&] {
        try {
            decryptSafeFile(source, target, key, state.cipherFailed, state.cipherMessage, progress);
        } catch (const std::exception& failure) {
            state.cipherFailed = true;
            state.cipherMessage = failure.what();
            std::error_code ignored;
            std::filesystem::remove(target, ignored);
        }
    });
}

void openWorkingCopyStream(SafeState& state) {
    constexpr auto mode = std::ios::in | std::ios::out | std::ios::binary | std::ios::ate;
    state.workingCopyStream.clear();
    state.workingCopyStream.open(workingCopyPath(state), mode);
    if (state.workingCopyStream.is_open())
        return;
    // One more try: the file was just written and a scanner may hold it briefly.
    state.workingCopyStream.clear();
    state.workingCopyStream.open(workingCopyPath(state), mode);
}

} // namespace

OpenResult openWorkingCopy(Session& session, const std::string& sourcePath,
                           const std::string& progressText, const std::string& notOpenMessage) {
    SafeState& state = session.state;
    Shell& shell = session.shell;
    shell.ShowProgress(progressText);
    decryptIntoWorkingCopy(session, sourcePath);
    if (state.cipherFailed) {
        shell.HideProgress();
        showError(shell, lifecycle_text::InvalidFileOrPassword);
        return OpenResult::Refused;
    }
    openWorkingCopyStream(state);
    if (!isSafeOpen(state)) {
        shell.HideProgress();
        showError(shell, lifecycle_text::FailedToOpenFile, lifecycle_text::UnknownError);
    }
    shell.HideProgress();
    if (isSafeOpen(state)) {
        refreshEntryList(state, shell);
        shell.SetSafeButtonsEnabled(true);
    } else {
        // No plaintext stays behind for a safe that is not open.
        discardWorkingCopy(state);
        shell.showMessage(notOpenMessage, lifecycle_text::Error, MessageIcon::Error);
    }
    return OpenResult::Done;
}

void openSafe(Session& session) {
    SafeState& state = session.state;
    Shell& shell = session.shell;
    // The picker starts on the last safe's path; the open safe is saved to its
    // own path below, so the choice is kept aside until then.
    std::string chosen = state.safePath;
    if (!shell.pickSafeToOpen(chosen))
        return;
    if (!saveBeforeSwitching(session))
        return;
    discardWorkingCopy(state);
    shell.deleteAllRows();
    state.safePath = chosen;
    // The result is not looked at: after Cancel the cancel marker is tried as
    // the password, which refuses any other safe.
    shell.PasswordDialog(state.password);
    openWorkingCopy(session, state.safePath, lifecycle_text::OpeningSafe,
                    lifecycle_text::CouldNotOpenFile);
}

int openStartupSafe(Session& session, const std::string& startupSafePath) {
    SafeState& state = session.state;
    Shell& shell = session.shell;
    shell.deleteAllRows();
    shell.PasswordDialog(state.password);
    state.safePath = startupSafePath;
    OpenResult result = openWorkingCopy(session, startupSafePath, lifecycle_text::OpeningFile,
                                        lifecycle_text::CouldNotOpenFile);
    return result == OpenResult::Refused ? -1 : 0;
}

} // namespace quorvane
