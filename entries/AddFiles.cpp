#include "entries/AddSteps.h"
#include "entries/Entries.h"
#include "entries/FolderSources.h"
#include "entries/Messages.h"
#include "lifecycle/Lifecycle.h"

namespace quorvane {

namespace text = entries_text;

void addFile(Session& session) {
    Shell& shell = session.shell;
    std::string path;
    if (!shell.pickers.pickFileToAdd(path))
        return;
    // The erase question comes first and is asked even without an open safe.
    const bool eraseWanted =
        shell.talk.askYesNo(text::EraseOriginalQuestion, text::CaptionDeleteOriginal);
    if (!isSafeOpen(session.state)) {
        shell.talk.showMessage(text::UnableToOpenFile, text::CaptionUnknownError,
                               MessageIcon::Error);
        return;
    }
    if (refuseIfReadOnly(session))
        return;
    SourceFile source;
    if (!measureSource(session, path, source))
        return;
    if (!storeSource(session, source, text::AddingFile))
        return;
    // A failed save keeps the original; the file itself is stored all the
    // same, and it reaches the safe file with the next save that works.
    if (eraseWanted && shell.talk.askYesNo(text::AreYouSure, text::CaptionDeleteOriginal) &&
        saveBeforeErasing(session))
        eraseOriginal(session, source);
    shell.talk.showMessage(text::WrittenSuccessfully, text::CaptionSuccess,
                           MessageIcon::Information);
}

void addDroppedFiles(Session& session, const std::vector<std::string>& paths) {
    Shell& shell = session.shell;
    // Said once, before the questions about erasing: none of the files can go in.
    if (refuseIfReadOnly(session))
        return;
    // Both questions come before any file is looked at; only two Yes erase.
    bool eraseWanted =
        shell.talk.askYesNo(text::EraseOriginalsQuestion, text::CaptionDeleteOriginal);
    if (eraseWanted)
        eraseWanted = shell.talk.askYesNo(text::AreYouSure, text::CaptionDeleteOriginal);

    // A dropped folder stands for the files in it and below; what it holds
    // that cannot be stored is listed once, before the first file goes in.
    const SourceList sources = expandSources(paths);
    if (!sources.unlistedFolder.empty()) {
        shell.talk.showMessage(text::folderNotListed(sources.unlistedFolder, sources.unlistedWhy),
                               text::CaptionError, MessageIcon::Error);
        return;
    }
    if (!sources.passedOver.empty())
        shell.talk.showMessage(text::passedOverReport(sources.passedOver), text::CaptionNotAdded,
                               MessageIcon::Information);
    const std::vector<std::string>& files = sources.files;
    const int count = static_cast<int>(files.size());
    // A drop is added whole or not at all, as the tool adds: every file is
    // measured before the first goes in, and one that cannot be stored ends
    // the drop with nothing added.
    std::vector<SourceFile> measured(files.size());
    for (std::size_t i = 0; isSafeOpen(session.state) && i < files.size(); ++i)
        if (!measureSource(session, files[i], measured[i], text::NothingOfTheDropAdded))
            return;
    for (int i = 0; i < count; ++i) {
        if (!isSafeOpen(session.state)) {
            shell.talk.showMessage(text::SafeNotOpen, text::CaptionError, MessageIcon::Error);
            continue;
        }
        const SourceFile& source = measured[static_cast<std::size_t>(i)];
        if (!storeSource(session, source, text::addingFileOf(i + 1, count)))
            return;
        // One save per erased file: a file is destroyed only once the safe
        // file holds it, and a failed save ends the drop before anything more
        // is stored that the user would expect to be erased.
        if (!eraseWanted)
            continue;
        if (!saveBeforeErasing(session))
            return;
        eraseOriginal(session, source);
    }
}

} // namespace quorvane
