#include "lifecycle/Lifecycle.h"
#include "lifecycle/LifecycleTexts.h"

namespace quorvane {

void changePassword(Session& session) {
    SafeState& state = session.state;
    if (refuseIfReadOnly(session))
        return;
    // The dialog writes into the password as the user types, so Cancel must
    // put the old one back; nothing is encrypted until the next save.
    const std::string previous = state.password.substr(0, PasswordLimit);
    if (session.shell.PasswordDialog(state.password) != 0)
        session.shell.showMessage(lifecycle_text::PasswordChanged, lifecycle_text::Success,
                                  MessageIcon::Information);
    else
        state.password = previous;
}

} // namespace quorvane
