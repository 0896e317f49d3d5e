#include "lifecycle/Lifecycle.h"
#include "lifecycle/LifecycleTexts.h"
#include "lifecycle/SafeFileWriting.h"
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
    // Until the vault replaces the safe file the session stays plain, and
    // the safe file keeps its last state.
    if (!contentsOf(state).unchanged()) {
        state.readOnly = true;
        showSaveFailed(session, {0, lifecycle_text::SafeChangedInPlace});
        return;
    }
    const WriteResult sealed = writeAsVault(session, lifecycle_text::Sealing);
    if (!sealed.written()) {
        showSaveFailed(session, *sealed.failure);
        return;
    }
    tellAccessChanged(session, sealed);
    shell.list.SetSafeButtonsEnabled(true); // greys Seal Safe from now on
    shell.talk.showMessage(lifecycle_text::SafeSealed, lifecycle_text::SuccessBang,
                           MessageIcon::Information);
}

} // namespace quorvane
