#include "lifecycle/Lifecycle.h"
#include "lifecycle/LifecycleTexts.h"
#include "lifecycle/SafeFormat.h"

namespace quorvane {

void changePassword(Session& session) {
    SafeState& state = session.state;
    if (refuseIfReadOnly(session))
        return;
    // The dialog writes into the password as the user types, so Cancel must
    // put the old one back; nothing is encrypted until the next save.
    const std::string previous = state.password.substr(0, PasswordLimit);
    if (session.shell.PasswordDialog(state.password) == 0) {
        state.password = previous;
        return;
    }
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
    session.shell.showMessage(lifecycle_text::PasswordChanged, lifecycle_text::Success,
                              MessageIcon::Information);
}

} // namespace quorvane
