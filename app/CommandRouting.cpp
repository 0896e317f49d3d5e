#include "app/CommandRouting.h"

#include "app/CommandIds.h"
#include "app/OpenFolder.h"
#include "dialogs/Dialogs.h"
#include "entries/Entries.h"
#include "lifecycle/Lifecycle.h"

namespace quorvane {

bool routeCommand(Session& session, QWidget* owner, int id, OpenFolder* folder) {
    switch (id) {
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
