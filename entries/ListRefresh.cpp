#include "entries/ListRefresh.h"

#include "lifecycle/EntryListing.h"

namespace quorvane {

void hideProgressAndRefresh(Session& session) {
    session.shell.HideProgress();
    refreshEntryList(session.state, session.shell);
}

} // namespace quorvane
