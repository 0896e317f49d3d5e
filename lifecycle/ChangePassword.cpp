#include "lifecycle/Lifecycle.h"
#include "lifecycle/LifecycleTexts.h"
#include "lifecycle/SafeFormat.h"

namespace quorvane {

void changePassword(Session& session) {
    SafeState& state = session.state;
    if (refuseIfReadOnly(session))
        return;
    // The new password is typed twice: one typing error would otherwise lock
    // the safe for good. Until both agree the password stays as it was;
    // nothing is encrypted until the next save.
    const std::optional<std::string> typed = session.shell.talk.askPassword();
    if (!typed || !confirmNewPassword(session.shell, *typed))
        return;
    const std::string previous = state.password;
    state.password = *typed;
    // A sealed safe's saves use the key kept from its open, so the new
    // password needs its own key now, and with it a new salt.
    if (isSealed(state)) {
        std::unique_ptr<SealedKey> key = deriveKeyForSealing(session, lifecycle_text::DerivingKey);
        if (!key) {
            state.password = previous;
            return;
        }
        state.sealedKey = std::move(key);
    }
    session.shell.talk.showMessage(lifecycle_text::PasswordChanged, lifecycle_text::Success,
                                   MessageIcon::Information);
}

} // namespace quorvane
