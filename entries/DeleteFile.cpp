#include "entries/Entries.h"
#include "entries/ListRefresh.h"
#include "entries/Messages.h"
#include "lifecycle/EntryListing.h"
#include "lifecycle/Lifecycle.h"
#include "storage/format/Container.h"

namespace quorvane {

namespace text = entries_text;

void deleteFile(Session& session) {
    Shell& shell = session.shell;
    SafeState& state = session.state;
    // No question is asked: the focused row goes at once.
    session.CurrentRow = shell.list.focusedRow();
    if (session.CurrentRow == -1) {
        shell.talk.showMessage(text::DeleteFailed, text::CaptionNoFileSelected, MessageIcon::Error);
        return;
    }
    if (refuseIfReadOnly(session))
        return;
    shell.busy.ShowProgress(text::RemovingFile);
    if (!isSafeOpen(state)) {
        shell.busy.HideProgress();
        shell.talk.showMessage(text::UnableToOpenFile, text::CaptionUnknownError,
                               MessageIcon::Error);
        return;
    }
    const auto row = static_cast<std::size_t>(session.CurrentRow);
    if (row >= state.indexRows.size()) { // a list that the loaded index does not match
        shell.busy.HideProgress();
        shell.talk.showMessage(text::DeleteFailed, text::CaptionNoFileSelected, MessageIcon::Error);
        return;
    }
    const ProgressCallback progress = shell.busy.byteProgress();
    RemoveResult result = RemoveResult::Failed;
    shell.busy.runBusy([&] { result = contentsOf(state).remove(state, row, progress); });
    // Records moved half-way no longer fit the index: what the working copy
    // holds now must never become the safe.
    if (result == RemoveResult::Torn)
        state.readOnly = true;
    if (result == RemoveResult::Torn) {
        hideProgressAndRefresh(session); // the list shows what the working copy holds now
    } else {
        shell.busy.HideProgress();
        showEntryList(state, shell);
    }
    if (result == RemoveResult::Removed)
        shell.talk.showMessage(text::FileDeleted, text::CaptionSuccessBang,
                               MessageIcon::Information);
    else if (result == RemoveResult::Torn)
        shell.talk.showMessage(text::DeleteTornWorkingCopy, text::CaptionError, MessageIcon::Error);
    else if (state.vault)
        shell.talk.showMessage(text::vaultDeleteRefused(state.vault->lastError()),
                               text::CaptionError, MessageIcon::Error);
    else
        shell.talk.showMessage(text::DeleteNotDone, text::CaptionError, MessageIcon::Error);
}

} // namespace quorvane
