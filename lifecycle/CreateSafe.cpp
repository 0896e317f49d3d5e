#include "lifecycle/Lifecycle.h"
#include "lifecycle/LifecycleTexts.h"
#include "lifecycle/SafeFileWriting.h"
#include "lifecycle/SafeFormat.h"
#include "storage/files/AtomicReplace.h"
#include "storage/format/Container.h"
#include "storage/format/SafeCipher.h"

#include <exception>
#include <memory>
#include <sstream>

namespace quorvane {

namespace {

void showError(Shell& shell, const std::string& text) {
    shell.talk.showMessage(text, lifecycle_text::Error, MessageIcon::Error);
}

// A new sealed safe is an empty vault, its key derived on the busy step.
WriteResult writeNewVault(Session& session, const std::string& target) {
    SafeState& state = session.state;
    ReplaceResult result;
    session.shell.busy.ShowProgress(lifecycle_text::DerivingKey);
    session.shell.busy.runBusy([&] {
        try {
            result = replaceFileAtomically(target, [&](std::ostream& out) {
                return vault::Vault::writeNew(out, state.password, {});
            });
        } catch (const std::exception& failure) {
            result.failure = Failure{0, failure.what()};
        }
    });
    session.shell.busy.HideProgress();
    if (!result.replaced())
        return writeFailed(result.failure->detail);
    return {std::nullopt, {}, accessNoticeFor(result.access)};
}

} // namespace

void createSafe(Session& session, SafeFormat format) {
    SafeState& state = session.state;
    Shell& shell = session.shell;
    std::string chosen;
    if (!shell.pickers.pickNewSafe(chosen))
        return;
    if (!saveBeforeSwitching(session))
        return;

    // A path where no file can be made is told before the password is asked.
    if (const std::optional<Failure> unwritable = cannotReplaceFileAt(chosen)) {
        showError(shell, withReason(lifecycle_text::FileCreationFailed, unwritable->detail));
        return;
    }
    // The new safe's container is made in memory: no plaintext of it ever
    // reaches a file, and a Cancel leaves nothing anywhere.
    std::stringstream container(emptyContainerBytes());
    // Typed twice, and kept aside until the new safe is written: a safe that
    // is still open keeps its own password whatever happens here. Cancel is
    // the dialog's answer, never its text: the cancel marker is a password
    // like any other.
    const std::optional<std::string> typed = shell.talk.askPassword();
    if (!typed || !confirmNewPassword(shell, *typed))
        return;

    // A safe that another program has open must not be replaced under it.
    SafeFileLock existing;
    if (existing.acquire(chosen) == LockResult::Busy) {
        showError(shell, lifecycle_text::SafeInUse);
        return;
    }
    const std::string previous = state.password;
    state.password = *typed;
    const std::string key = derivePasswordKey(state.password);
    const WriteResult written = format == SafeFormat::Sealed
                                    ? writeNewVault(session, chosen)
                                    : encryptFileOnto(shell, container, chosen, key, nullptr);
    existing.release();
    if (!written.written()) {
        state.password = previous;
        showError(shell, withReason(lifecycle_text::FileCreationFailed, written.failure->detail));
        return;
    }
    shell.talk.showMessage(lifecycle_text::FileCreated, lifecycle_text::Information,
                           MessageIcon::Information);
    tellAccessChanged(session, written);

    // The safe that was open was saved above; it ends here without another write.
    discardWorkingCopy(state);
    shell.list.showRows({});
    state.safePath = chosen;
    openWorkingCopy(session, state.safePath, lifecycle_text::OpeningSafe,
                    lifecycle_text::UnknownErrorOccurred);
}

} // namespace quorvane
