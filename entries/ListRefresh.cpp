#include "entries/ListRefresh.h"

#include "entries/Messages.h"
#include "lifecycle/EntryListing.h"

namespace quorvane {

void hideProgressAndRefresh(Session& session) {
    session.shell.busy.HideProgress();
    refreshEntryList(session.state, session.shell);
    if (session.state.indexReadFailed)
        session.shell.talk.showMessage(entries_text::WorkingCopyNotReadNow +
                                           session.state.failureReason,
                                       entries_text::CaptionError, MessageIcon::Error);
}

} // namespace quorvane
