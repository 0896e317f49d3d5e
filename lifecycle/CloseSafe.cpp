#include "lifecycle/Lifecycle.h"
#include "lifecycle/LifecycleTexts.h"

namespace quorvane {

namespace {

const char* closingText(CloseEntry entry) {
    return entry == CloseEntry::SaveAndExit ? lifecycle_text::SecurelyClosing
                                            : lifecycle_text::Closing;
}

void endWindow(Session& session, CloseEntry entry) {
    if (entry != CloseEntry::Destroy)
        session.shell.list.destroyMainWindow();
}

} // namespace

CloseResult closeSafe(Session& session, CloseEntry entry) {
    if (!isSafeOpen(session.state))
        return CloseResult::Closed;
    // A read-only session ends without a write and without a question: the
    // safe file keeps its last good state.
    if (!session.state.readOnly) {
        const WriteResult written =
            writeSafeFile(session, closingText(entry), AfterWrite::EndSession);
        // The safe stays open: the changes are still in the working copy and
        // the user can try again.
        if (!written.written()) {
            showSaveFailed(session, *written.failure);
            return CloseResult::Failed;
        }
    }
    discardWorkingCopy(session.state);
    endWindow(session, entry);
    return CloseResult::Closed;
}

bool closeRequested(Session& session, CloseEntry entry) {
    if (!isSafeOpen(session.state)) {
        endWindow(session, entry);
        return true;
    }
    if (closeSafe(session, entry) == CloseResult::Closed)
        return true;
    // Only an explicit Yes gives the changes up. A window that is being
    // destroyed cannot stay, and the working directory goes with the process.
    if (entry != CloseEntry::Destroy &&
        !session.shell.talk.askYesNo(lifecycle_text::CloseWithoutSaving, lifecycle_text::Error))
        return false;
    discardWorkingCopy(session.state);
    endWindow(session, entry);
    return true;
}

} // namespace quorvane
