#include "entries/Entries.h"
#include "entries/ExtractTarget.h"
#include "entries/Messages.h"
#include "lifecycle/EntryListing.h"
#include "lifecycle/Lifecycle.h"
#include "storage/format/SafeContents.h"

#include <cstring>
#include <ctime>
#include <optional>

namespace quorvane {

namespace text = entries_text;

namespace {

// Folders live only where the safe keeps a tree; a plain safe says why not.
bool refuseWithoutTree(Session& session) {
    if (contentsOf(session.state).keepsTree())
        return false;
    session.shell.talk.showMessage(text::FoldersOnlyInSealedSafes, text::CaptionError,
                                   MessageIcon::Error);
    return true;
}

bool readyForFolders(Session& session) {
    if (!isSafeOpen(session.state)) {
        session.shell.talk.showMessage(text::SafeNotOpen, text::CaptionError, MessageIcon::Error);
        return false;
    }
    return !refuseWithoutTree(session) && !refuseIfReadOnly(session);
}

// A new name, typed, as a path beside the old one; nothing when cancelled
// or refused (the user is told why).
std::optional<std::string> askNameIn(Session& session, const std::string& folder) {
    const std::optional<std::string> typed = session.shell.talk.askNewEntryName();
    if (!typed)
        return std::nullopt;
    if (const char* refusal = newNameRefusal(*typed)) {
        session.shell.talk.showMessage(refusal, text::CaptionError, MessageIcon::Error);
        return std::nullopt;
    }
    return folder.empty() ? *typed : folder + "/" + *typed;
}

void tellRefused(Session& session, const char* what) {
    session.shell.talk.showMessage(std::string(what) + " " +
                                       std::strerror(contentsOf(session.state).lastError()),
                                   text::CaptionError, MessageIcon::Error);
}

EntryStamp stampNow() {
    EntryStamp stamp;
    stamp.modifiedSeconds = static_cast<std::int64_t>(std::time(nullptr));
    stamp.mode = 0700;
    return stamp;
}

} // namespace

std::string folderOfPath(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

void newFolder(Session& session, const std::string& parent) {
    if (!readyForFolders(session))
        return;
    const std::optional<std::string> path = askNameIn(session, parent);
    if (!path)
        return;
    if (!contentsOf(session.state).makeFolder(session.state, *path, stampNow())) {
        tellRefused(session, text::FolderNotMade);
        return;
    }
    showEntryList(session.state, session.shell);
}

void deleteFolder(Session& session, const std::string& path) {
    if (!readyForFolders(session))
        return;
    std::size_t files = 0;
    for (const ContentEntry& entry : contentsOf(session.state).entries(session.state))
        if (entry.kind == ContentKind::File && entry.path.rfind(path + "/", 0) == 0)
            ++files;
    if (!session.shell.talk.askYesNo(text::deleteFolderQuestion(path, files),
                                     text::CaptionDeleteFolder))
        return;
    if (contentsOf(session.state).removeEntry(session.state, path, FolderRemoval::WithEverything) !=
        RemoveResult::Removed) {
        tellRefused(session, text::FolderNotDeleted);
        return;
    }
    showEntryList(session.state, session.shell);
}

void renameFolder(Session& session, const std::string& path) {
    if (!readyForFolders(session))
        return;
    const std::optional<std::string> target = askNameIn(session, folderOfPath(path));
    if (!target || *target == path)
        return;
    if (!contentsOf(session.state).moveEntry(session.state, path, *target, OnExisting::Refuse)) {
        tellRefused(session, text::FolderNotRenamed);
        return;
    }
    showEntryList(session.state, session.shell);
}

} // namespace quorvane
