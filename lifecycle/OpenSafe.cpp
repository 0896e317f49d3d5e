#include "lifecycle/EntryListing.h"
#include "lifecycle/Lifecycle.h"
#include "lifecycle/LifecycleTexts.h"
#include "lifecycle/SafeFormat.h"
#include "storage/workingcopy/DescriptorBuffer.h"
#include "storage/format/SafeCipher.h"
#include "storage/workingcopy/WorkingCopyFile.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace quorvane {

namespace {

void showError(Shell& shell, const std::string& text, const char* caption = lifecycle_text::Error) {
    shell.showMessage(text, caption, MessageIcon::Error);
}

enum class DecryptOutcome { Done, Refused, ReadFailed, WriteFailed, Damaged };

// Decrypts the locked safe file into a new working copy. Bytes that do not
// decrypt (a wrong password, not a safe) are Refused; a failed read of the
// safe or a failed write of the working copy is the system's failure, with
// its reason in state.failureReason. Whatever was refused leaves no working
// copy behind.
DecryptOutcome decryptLockedSafe(SafeState& state, const std::string& key,
                                 const ProgressCallback& progress) {
    WorkingCopyFile& workingCopy = state.workingCopyStream;
    if (!workingCopy.create(workingCopyPath(state))) {
        state.failureReason = std::strerror(errno);
        return DecryptOutcome::WriteFailed;
    }
    DescriptorInputBuffer safeBytes(state.safeLock.fd());
    std::istream in(&safeBytes);
    const SafeRead read = readSafeInItsFormat(state, in, workingCopy, key, progress);
    DecryptOutcome outcome = DecryptOutcome::Done;
    if (safeBytes.lastError() != 0) {
        state.failureReason = std::strerror(safeBytes.lastError());
        outcome = DecryptOutcome::ReadFailed;
    } else if (workingCopy.lastError() != 0) {
        state.failureReason = std::strerror(workingCopy.lastError());
        outcome = DecryptOutcome::WriteFailed;
    } else if (read == SafeRead::KeyFailed || read == SafeRead::Damaged) {
        outcome = read == SafeRead::Damaged ? DecryptOutcome::Damaged : DecryptOutcome::ReadFailed;
    } else if (state.cipherFailed) {
        outcome = DecryptOutcome::Refused;
    }
    if (outcome != DecryptOutcome::Done)
        discardWorkingCopy(state);
    return outcome;
}

DecryptOutcome decryptIntoWorkingCopy(Session& session) {
    SafeState& state = session.state;
    const std::string key = derivePasswordKey(state.password);
    ProgressCallback progress = session.shell.byteProgress();
    DecryptOutcome outcome = DecryptOutcome::Refused;
    session.shell.runBusy([&] {
        try {
            outcome = decryptLockedSafe(state, key, progress);
        } catch (const std::exception& failure) { // e.g. no memory for the buffers
            state.failureReason = failure.what();
            outcome = DecryptOutcome::WriteFailed;
            discardWorkingCopy(state);
        }
    });
    return outcome;
}

// Takes the safe file's lock. A safe that another program has open is
// refused with our words; a file that cannot be opened at all goes on to
// the decryption, which refuses it as it always has.
bool lockSafeFile(Session& session, const std::string& sourcePath) {
    std::string reason;
    if (session.state.safeLock.acquire(sourcePath, reason) != LockOutcome::Busy)
        return true;
    session.shell.HideProgress();
    showError(session.shell, lifecycle_text::SafeInUse);
    return false;
}

OpenResult failedOpen(Session& session, const std::string& text) {
    discardWorkingCopy(session.state);
    session.shell.HideProgress();
    session.shell.deleteAllRows();
    showError(session.shell, text + session.state.failureReason);
    return OpenResult::Failed;
}

} // namespace

OpenResult openWorkingCopy(Session& session, const std::string& sourcePath,
                           const std::string& progressText, const std::string& notOpenMessage) {
    SafeState& state = session.state;
    Shell& shell = session.shell;
    shell.ShowProgress(progressText);
    if (!lockSafeFile(session, sourcePath))
        return OpenResult::Failed;
    const DecryptOutcome decrypted =
        state.safeLock.held() ? decryptIntoWorkingCopy(session) : DecryptOutcome::Refused;
    if (decrypted == DecryptOutcome::ReadFailed)
        return failedOpen(session, lifecycle_text::SafeNotRead);
    if (decrypted == DecryptOutcome::WriteFailed)
        return failedOpen(session, lifecycle_text::WorkingCopyNotWritten);
    if (decrypted == DecryptOutcome::Damaged)
        return failedOpen(session, lifecycle_text::SealedSafeDamaged);
    if (decrypted == DecryptOutcome::Refused) {
        state.safeLock.release();
        shell.HideProgress();
        showError(shell, lifecycle_text::InvalidFileOrPassword);
        return OpenResult::Refused;
    }
    if (!isSafeOpen(state)) {
        shell.HideProgress();
        showError(shell, lifecycle_text::FailedToOpenFile, lifecycle_text::UnknownError);
    }
    shell.HideProgress();
    if (isSafeOpen(state)) {
        refreshEntryList(state, shell);
        // A working copy that cannot be read is no safe to work on: nothing
        // is known of what it holds.
        if (state.indexReadFailed)
            return failedOpen(session, lifecycle_text::WorkingCopyNotRead);
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
    if (!saveBeforeSwitching(session, AfterWrite::EndSession))
        return;
    discardWorkingCopy(state); // what a read-only session leaves
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
