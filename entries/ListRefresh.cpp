#include "entries/ListRefresh.h"

#include "entries/Messages.h"
#include "lifecycle/EntryListing.h"

namespace quorvane {

void hideProgressAndRefresh(Session& session) {
    session.shell.busy.HideProgress();
    if (const auto unread = refreshEntryList(session.state, session.shell))
        session.shell.talk.showMessage(entries_text::WorkingCopyNotReadNow + unread->detail,
                                       entries_text::CaptionError, MessageIcon::Error);
}

} // namespace quorvane
