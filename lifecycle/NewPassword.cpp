#include "lifecycle/Lifecycle.h"
#include "lifecycle/LifecycleTexts.h"

namespace quorvane {

bool confirmNewPassword(Shell& shell, const std::string& password) {
    std::string confirmation;
    if (shell.ConfirmPasswordDialog(confirmation) == 0)
        return false;
    if (confirmation == password)
        return true;
    shell.showMessage(lifecycle_text::PasswordsDoNotMatch, lifecycle_text::Error,
                      MessageIcon::Error);
    return false;
}

} // namespace quorvane
