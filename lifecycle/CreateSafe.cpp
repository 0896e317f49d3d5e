#include "lifecycle/Lifecycle.h"
#include "lifecycle/LifecycleTexts.h"
#include "lifecycle/SafeFileWriting.h"
#include "lifecycle/WorkingDirectory.h"
#include "storage/Container.h"
#include "storage/SafeCipher.h"

#include <system_error>

namespace quorvane {

namespace {

void showError(Shell& shell, const std::string& text) {
    shell.showMessage(text, lifecycle_text::Error, MessageIcon::Error);
}

// The plaintext empty container is made in the private working directory, never
// at the chosen path: a Cancel or a failure then leaves nothing there.
bool writeEmptyContainer(const std::filesystem::path& container) {
    return createPrivateFile(container) && createContainer(container) == 0;
}

} // namespace

void createSafe(Session& session) {
    SafeState& state = session.state;
    Shell& shell = session.shell;
    std::string chosen;
    if (!shell.pickNewSafe(chosen))
        return;
    if (!saveBeforeSwitching(session))
        return;

    const std::filesystem::path container = newSafeContainerPath(state);
    std::error_code ignored;
    if (!writeEmptyContainer(container)) {
        std::filesystem::remove(container, ignored);
        showError(shell, lifecycle_text::FileCreationFailed);
        return;
    }
    shell.PasswordDialog(state.password);
    if (state.password == PasswordCancelMarker) {
        std::filesystem::remove(container, ignored);
        return;
    }

    const std::string key = derivePasswordKey(state.password);
    bool written =
        encryptFileOnto(shell, container, chosen, key, state.cipherFailed, state.cipherMessage);
    std::filesystem::remove(container, ignored);
    if (!written) {
        if (state.cipherFailed)
            showError(shell, state.cipherMessage);
        showError(shell, lifecycle_text::FileCreationFailed);
        return;
    }
    shell.showMessage(lifecycle_text::FileCreated, lifecycle_text::Information,
                      MessageIcon::Information);

    // The safe that was open was saved above; it ends here without another write.
    discardWorkingCopy(state);
    shell.deleteAllRows();
    state.safePath = chosen;
    openWorkingCopy(session, state.safePath, lifecycle_text::OpeningSafe,
                    lifecycle_text::UnknownErrorOccurred);
}

} // namespace quorvane
