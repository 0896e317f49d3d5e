#include "lifecycle/Lifecycle.h"
#include "lifecycle/LifecycleTexts.h"
#include "lifecycle/SafeFileWriting.h"
#include "lifecycle/SafeFormat.h"
#include "storage/format/SafeCipher.h"
#include "storage/workingcopy/FileStreams.h"
#include "storage/workingcopy/ReadThroughSafe.h"

namespace quorvane {

namespace {

// A safe file changed in place under the session (by a program that ignores
// the lock) is never overwritten nor read on as if nothing had happened.
bool safeFileUnchanged(SafeState& state) {
    if (contentsOf(state).unchanged())
        return true;
    state.readOnly = true;
    return false;
}

// A save that failed because the working copy could not be read says the
// system's reason, not the cipher's "could not read its input"; a safe file
// changed in place under it ends every later write.
Failure workingCopyFailureOr(SafeState& state, const Failure& written) {
    const int error = state.workingCopy->lastError();
    if (error == 0)
        return written;
    if (error == SafeChangedInPlace) {
        state.readOnly = true;
        return {0, lifecycle_text::SafeChangedInPlace};
    }
    return failureOn(error);
}

// After the fresh safe replaced the old one it holds exactly what the working
// copy holds: from now on the working copy reads through it, and what was
// kept in encrypted sectors is given up. A sealed safe cannot be read through
// and keeps its working copy whole.
void readThroughNewSafe(SafeState& state, const std::string& key) {
    if (isSealed(state))
        return;
    SafeOpenResult opening = SafeOpenResult::ReadFailed;
    int error = 0;
    std::unique_ptr<ReadThroughSafe> base =
        ReadThroughSafe::open(state.safeLock.fd(), plainCipherKey(key), opening, error);
    if (base && base->length() == state.workingCopy->length()) {
        state.workingCopy->rebase(std::move(base));
        return;
    }
    // The old safe file is gone: what still reads through it cannot be
    // trusted. The write itself went through; the next one is refused.
    state.readOnly = true;
}

// A vault's session after its write: ended when asked, the access told.
void afterVaultWrite(Session& session, AfterWrite after, const WriteResult& written) {
    if (after == AfterWrite::EndSession)
        discardWorkingCopy(session.state);
    tellAccessChanged(session, written);
}

} // namespace

void showSaveFailed(Session& session, const Failure& failure) {
    session.shell.talk.showMessage(withReason(lifecycle_text::FailedToSave, failure.detail),
                                   lifecycle_text::Error, MessageIcon::Error);
}

void tellAccessChanged(Session& session, const WriteResult& written) {
    if (!written.accessNotice.empty())
        session.shell.talk.showMessage(written.accessNotice, lifecycle_text::Information,
                                       MessageIcon::Information);
}

std::string withReason(const std::string& text, const std::string& reason) {
    return reason.empty() ? text : text + "\n" + reason;
}

bool refuseIfReadOnly(Session& session) {
    if (!isSafeOpen(session.state) || !session.state.readOnly)
        return false;
    session.shell.talk.showMessage(lifecycle_text::ReadOnlySafe, lifecycle_text::Error,
                                   MessageIcon::Error);
    return true;
}

WriteResult writeSafeFile(Session& session, const std::string& progressText, AfterWrite after) {
    SafeState& state = session.state;
    Shell& shell = session.shell;
    if (!isSafeOpen(state))
        return writeFailed("");
    // The last line of defence: whatever asked for the write, a session that
    // did not load cleanly never reaches the safe file.
    if (state.readOnly)
        return writeFailed(lifecycle_text::ReadOnlySafe);
    if (!safeFileUnchanged(state))
        return writeFailed(lifecycle_text::SafeChangedInPlace);
    // A safe file renamed or moved while it was open (mv, a file manager) is
    // written where it now is: never a new file under the old name beside
    // the real one, which would keep the old state.
    if (const auto moved = state.safeLock.movedFrom(state.safePath))
        state.safePath = *moved;
    if (VaultContents* vault = state.vault.get()) {
        WriteResult committed = commitVault(session, *vault, progressText);
        if (committed.written())
            afterVaultWrite(session, after, committed);
        return committed;
    }
    // A first-version sealed safe is written as a vault from now on.
    if (isSealed(state)) {
        WriteResult converted = writeAsVault(session, progressText);
        if (!converted.written())
            return converted;
        session.shell.talk.showMessage(lifecycle_text::SafeUpgraded, lifecycle_text::Information,
                                       MessageIcon::Information);
        afterVaultWrite(session, after, converted);
        return converted;
    }
    shell.busy.ShowProgress(progressText);
    const std::string key = derivePasswordKey(state.password);
    WriteResult result;
    {
        FileInputStream plaintext(*state.workingCopy);
        const auto readThrough = [&] {
            if (after == AfterWrite::KeepOpen)
                readThroughNewSafe(state, key);
        };
        result =
            encryptFileOnto(shell, plaintext, state.safePath, key, &state.safeLock, readThrough);
    }
    if (!result.written())
        result.failure = workingCopyFailureOr(state, *result.failure);
    if (result.written() && after == AfterWrite::EndSession)
        shell.busy.runBusy([&] { discardWorkingCopy(state); });
    shell.busy.HideProgress();
    if (result.written())
        tellAccessChanged(session, result);
    return result;
}

bool saveBeforeSwitching(Session& session, AfterWrite after) {
    // A read-only session has nothing that may be written; the switch ends it.
    if (!isSafeOpen(session.state) || session.state.readOnly)
        return true;
    const WriteResult saved = writeSafeFile(session, lifecycle_text::Saving, after);
    if (saved.written())
        return true;
    showSaveFailed(session, *saved.failure);
    return false;
}

void saveSafe(Session& session) {
    if (refuseIfReadOnly(session))
        return;
    if (isSafeOpen(session.state)) {
        const WriteResult saved = writeSafeFile(session, lifecycle_text::Saving);
        if (!saved.written()) {
            showSaveFailed(session, *saved.failure);
            return;
        }
    }
    session.shell.talk.showMessage(lifecycle_text::ChangesSaved, lifecycle_text::SuccessBang,
                                   MessageIcon::Information);
}

} // namespace quorvane
