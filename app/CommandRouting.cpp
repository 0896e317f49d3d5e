#include "app/CommandRouting.h"

#include "app/CommandIds.h"
#include "app/EntryListView.h"
#include "app/MainWindow.h"
#include "app/OpenFolder.h"
#include "dialogs/Dialogs.h"
#include "entries/Entries.h"
#include "lifecycle/Lifecycle.h"
#include "lifecycle/LifecycleTexts.h"

#include <algorithm>

namespace quorvane {

namespace {

// File > Close Safe: the safe is written and its session ends, as at the
// close box, but the window stays for the next safe. A failed write keeps
// the safe open with its changes (nothing is given up without asking).
void closeSafeKeepingWindow(Session& session) {
    SafeState& state = session.state;
    if (!isSafeOpen(state))
        return;
    if (!state.readOnly) {
        const WriteResult written =
            writeSafeFile(session, lifecycle_text::Closing, AfterWrite::EndSession);
        if (!written.written()) {
            showSaveFailed(session, *written.failure);
            return;
        }
    }
    discardWorkingCopy(state);
    std::fill(state.password.begin(), state.password.end(), '\0');
    state.password.clear();
    session.shell.list.showRows({});
    session.shell.list.SetSafeButtonsEnabled(false);
}

} // namespace

bool routeCommand(Session& session, QWidget* owner, int id, OpenFolder* folder) {
    // On a folder's row, Delete and Rename act on the folder; a new folder
    // goes into the focused one.
    const auto* window = qobject_cast<MainWindow*>(owner);
    const std::string focusedFolder =
        window == nullptr ? std::string() : window->entryList()->focusedFolder();
    if (!focusedFolder.empty() && (id == command::DeleteFile || id == command::DeleteRow)) {
        deleteFolder(session, focusedFolder);
        return true;
    }
    if (!focusedFolder.empty() && id == command::RenameFile) {
        renameFolder(session, focusedFolder);
        return true;
    }
    switch (id) {
    case command::NewFolder:
        newFolder(session, focusedFolder);
        return true;
    case command::NewSafe:
        createSafe(session);
        return true;
    case command::OpenSafe:
        openSafe(session);
        return true;
    case command::Save:
        saveSafe(session);
        return true;
    case command::SaveAndExit:
        // When the close goes through, the operation has ended the window;
        // asking once more is harmless and covers a close that forgot to.
        if (closeRequested(session, CloseEntry::SaveAndExit))
            session.shell.list.destroyMainWindow();
        return true;
    case command::CloseSafe:
        closeSafeKeepingWindow(session);
        return true;
    case command::AddFile:
        addFile(session);
        return true;
    case command::DeleteFile:
    case command::DeleteRow:
        deleteFile(session);
        return true;
    case command::RenameFile:
        renameFile(session);
        return true;
    case command::Extract:
        extractFiles(session);
        return true;
    case command::ChangePassword:
        changePassword(session);
        return true;
    case command::SealSafe:
        sealSafe(session);
        return true;
    case command::OpenAsFolder:
        if (folder == nullptr)
            return false;
        folder->showFolder();
        return true;

    case command::About:
        dialogs::runAboutDialog(owner);
        return true;
    default:
        return false;
    }
}

} // namespace quorvane
