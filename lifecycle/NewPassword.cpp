#include "lifecycle/Lifecycle.h"
#include "lifecycle/LifecycleTexts.h"

namespace quorvane {

bool confirmNewPassword(Shell& shell, const std::string& password) {
    const std::optional<std::string> confirmation = shell.talk.askPasswordConfirmation();
    if (!confirmation)
        return false;
    if (*confirmation == password)
        return true;
    shell.talk.showMessage(lifecycle_text::PasswordsDoNotMatch, lifecycle_text::Error,
                           MessageIcon::Error);
    return false;
}

} // namespace quorvane
