#include "entries/Entries.h"
#include "entries/ExtractTarget.h"
#include "entries/Messages.h"
#include "lifecycle/EntryListing.h"
#include "lifecycle/Lifecycle.h"
#include "storage/format/Container.h"

namespace quorvane {

namespace text = entries_text;

void renameFile(Session& session) {
    Shell& shell = session.shell;
    SafeState& state = session.state;
    session.CurrentRow = shell.list.focusedRow();
    if (session.CurrentRow != -1 && refuseIfReadOnly(session))
        return;
    if (session.CurrentRow == -1 || !isSafeOpen(state) ||
        static_cast<std::size_t>(session.CurrentRow) >= state.indexRows.size()) {
        shell.talk.showMessage(text::RenameFailed, text::CaptionUnknownError, MessageIcon::Error);
        return;
    }
    const std::optional<std::string> typed = shell.talk.askNewEntryName();
    if (!typed)
        return;
    const std::string& newEntryName = *typed;
    // A name that extracting would refuse would keep the entry in the safe
    // for good; the entry keeps its old name instead.
    if (const char* refusal = newNameRefusal(newEntryName)) {
        shell.talk.showMessage(refusal, text::CaptionError, MessageIcon::Error);
        return;
    }
    // In a safe that keeps folders, the file stays in its folder.
    const std::string folder =
        folderOfPath(state.entryDetails[static_cast<std::size_t>(session.CurrentRow)].name);
    const std::string target = folder.empty() || !contentsOf(state).keepsTree()
                                   ? newEntryName
                                   : folder + "/" + newEntryName;
    const bool written =
        contentsOf(state).rename(state, static_cast<std::size_t>(session.CurrentRow), target);
    // A vault changes names only in memory until the save: a refused rename
    // leaves it whole, and the session goes on.
    if (!written && state.vault) {
        shell.talk.showMessage(text::vaultRenameRefused(state.vault->lastError()),
                               text::CaptionError, MessageIcon::Error);
        return;
    }
    // A name field written only in part is neither the old name nor the new:
    // the working copy is no longer what the user changed it to.
    if (!written)
        state.readOnly = true;
    if (written)
        showEntryList(state, shell);
    else
        refreshEntryList(state, shell);
    if (!written)
        shell.talk.showMessage(text::RenameNotWritten, text::CaptionError, MessageIcon::Error);
}

} // namespace quorvane
