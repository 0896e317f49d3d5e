#include "lifecycle/Lifecycle.h"
#include "lifecycle/LifecycleTexts.h"
#include "lifecycle/SafeFileWriting.h"
#include "lifecycle/SafeFormat.h"
#include "lifecycle/WorkingDirectory.h"
#include "storage/Container.h"
#include "storage/SafeCipher.h"

#include <cerrno>
#include <cstring>
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

void createSafe(Session& session, SafeFormat format) {
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
        const std::string reason = std::strerror(errno);
        std::filesystem::remove(container, ignored);
        showError(shell, withReason(lifecycle_text::FileCreationFailed, reason));
        return;
    }
    shell.PasswordDialog(state.password);
    if (state.password == PasswordCancelMarker) {
        std::filesystem::remove(container, ignored);
        return;
    }

    // A safe that another program has open must not be replaced under it.
    SafeFileLock existing;
    std::string notLocked;
    if (existing.acquire(chosen, notLocked) == LockOutcome::Busy) {
        std::filesystem::remove(container, ignored);
        showError(shell, lifecycle_text::SafeInUse);
        return;
    }
    std::unique_ptr<SealedKey> sealed;
    if (format == SafeFormat::Sealed) {
        sealed = deriveKeyForSealing(session, lifecycle_text::DerivingKey);
        if (!sealed) {
            std::filesystem::remove(container, ignored);
            return;
        }
    }
    const std::string key = derivePasswordKey(state.password);
    bool written = encryptFileOnto(shell, container, chosen, key, state, nullptr, sealed.get());
    existing.release();
    std::filesystem::remove(container, ignored);
    if (!written) {
        showError(shell, withReason(lifecycle_text::FileCreationFailed, state.failureReason));
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
