#include "lifecycle/Lifecycle.h"
#include "lifecycle/LifecycleTexts.h"
#include "lifecycle/SafeFormat.h"

namespace quorvane {

namespace {

bool rewrapVaultKey(Session& session, VaultContents& vault) {
    vault::StepResult outcome = vault::StepResult::KeyFailed;
    const std::string password = session.state.password;
    session.shell.busy.ShowProgress(lifecycle_text::DerivingKey);
    session.shell.busy.runBusy([&] {
        outcome = vault.changePassword(password);
        if (outcome == vault::StepResult::Done)
            session.state.safeLock.expectCurrent();
    });
    session.shell.busy.HideProgress();
    if (outcome == vault::StepResult::Done)
        return true;
    const std::string reason = outcome == vault::StepResult::KeyFailed
                                   ? lifecycle_text::KeyNotDerived
                                   : failureText(vault.lastError());
    session.shell.talk.showMessage(withReason(lifecycle_text::FailedToSave, reason),
                                   lifecycle_text::Error, MessageIcon::Error);
    return false;
}

} // namespace

void changePassword(Session& session) {
    SafeState& state = session.state;
    if (refuseIfReadOnly(session))
        return;
    // The new password is typed twice: one typing error would otherwise lock
    // the safe for good. Until both agree the password stays as it was;
    // a plain safe is encrypted under it at the next save.
    const std::optional<std::string> typed = session.shell.talk.askPassword();
    if (!typed || !confirmNewPassword(session.shell, *typed))
        return;
    const std::string previous = state.password;
    state.password = *typed;
    // A vault's data key stays; only its wrapping under the new password is
    // written, at once (a few KiB, whatever the safe's size).
    if (VaultContents* vault = state.vault.get()) {
        if (!rewrapVaultKey(session, *vault)) {
            state.password = previous;
            return;
        }
    }
    // A first-version sealed safe keeps no key of its own: its next save
    // writes it as a vault under the password it has then.
    session.shell.talk.showMessage(lifecycle_text::PasswordChanged, lifecycle_text::Success,
                                   MessageIcon::Information);
}

} // namespace quorvane
