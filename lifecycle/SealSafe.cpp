#include "lifecycle/Lifecycle.h"
#include "lifecycle/LifecycleTexts.h"
#include "lifecycle/SafeFormat.h"

namespace quorvane {

void sealSafe(Session& session) {
    SafeState& state = session.state;
    Shell& shell = session.shell;
    // The window greys the command in both cases; a late click does nothing.
    if (!isSafeOpen(state) || isSealed(state))
        return;
    if (refuseIfReadOnly(session))
        return;
    if (!shell.talk.askYesNo(lifecycle_text::SealSafeQuestion, lifecycle_text::SealSafeCaption))
        return;
    std::unique_ptr<SealedKey> key = deriveKeyForSealing(session, lifecycle_text::Sealing);
    if (!key)
        return;
    // The save writes sealed as soon as the session holds a key; until the
    // safe file is replaced it stays plain, and so does the session.
    state.sealedKey = std::move(key);
    if (!writeSafeFile(session, lifecycle_text::Sealing)) {
        state.sealedKey.reset();
        showSaveFailed(session);
        return;
    }
    shell.list.SetSafeButtonsEnabled(true); // greys Seal Safe from now on
    shell.talk.showMessage(lifecycle_text::SafeSealed, lifecycle_text::SuccessBang,
                           MessageIcon::Information);
}

} // namespace quorvane
