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
    session.CurrentRow = shell.focusedRow();
    if (session.CurrentRow == -1) {
        shell.showMessage(text::DeleteFailed, text::CaptionNoFileSelected, MessageIcon::Error);
        return;
    }
    if (refuseIfReadOnly(session))
        return;
    shell.ShowProgress(text::RemovingFile);
    if (!isSafeOpen(state)) {
        shell.HideProgress();
        shell.showMessage(text::UnableToOpenFile, text::CaptionUnknownError, MessageIcon::Error);
        return;
    }
    const auto row = static_cast<std::size_t>(session.CurrentRow);
    if (row >= state.indexRows.size()) { // a list that the loaded index does not match
        shell.HideProgress();
        shell.showMessage(text::DeleteFailed, text::CaptionNoFileSelected, MessageIcon::Error);
        return;
    }
    const ProgressCallback progress = shell.byteProgress();
    RemoveResult result = RemoveResult::Failed;
    shell.runBusy([&] { result = removeEntry(*state.workingCopy, state, row, progress); });
    // Records moved half-way no longer fit the index: what the working copy
    // holds now must never become the safe.
    if (result == RemoveResult::Torn)
        state.readOnly = true;
    if (result == RemoveResult::Torn) {
        hideProgressAndRefresh(session); // the list shows what the working copy holds now
    } else {
        shell.HideProgress();
        showEntryList(state, shell);
    }
    if (result == RemoveResult::Removed)
        shell.showMessage(text::FileDeleted, text::CaptionSuccessBang, MessageIcon::Information);
    else if (result == RemoveResult::Torn)
        shell.showMessage(text::DeleteTornWorkingCopy, text::CaptionError, MessageIcon::Error);
    else
        shell.showMessage(text::DeleteNotDone, text::CaptionError, MessageIcon::Error);
}

} // namespace quorvane
