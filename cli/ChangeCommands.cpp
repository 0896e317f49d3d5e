#include "cli/ChangeCommands.h"

#include "cli/ListFormat.h"
#include "entries/AddSteps.h"
#include "entries/Entries.h"
#include "entries/FolderSources.h"
#include "entries/Messages.h"
#include "lifecycle/Lifecycle.h"
#include "lifecycle/LifecycleTexts.h"
#include "lifecycle/SafeFormat.h"
#include "storage/files/SourceSnapshot.h"
#include "storage/format/Container.h"

#include <functional>
#include <set>
#include <unordered_set>

namespace quorvane {

namespace {

// Writes the changed safe back with the window's save: a fresh file renamed
// over the safe, so that a failure leaves the safe file as it was. A failure
// is told as the window tells it, with the reason on the line below.
ExitCode saveBack(CommandRun& run) {
    const std::size_t errorsBefore = run.shell.errorTexts().size();
    if (writeSafeFile(run.session, lifecycle_text::Saving))
        return ExitCode::Success;
    if (run.shell.errorTexts().size() == errorsBefore)
        showSaveFailed(run.session);
    return ExitCode::Failed;
}

// The stored original is erased as the window erases it. Whatever happens to
// it, the safe has changed by now: false (never a failure) when it was not
// erased, because it was refused with a message, or because its deletion
// failed silently and the path still names the file that was stored.
bool eraseStoredOriginal(CommandRun& run, const SourceFile& source) {
    const std::size_t errorsBefore = run.shell.errorTexts().size();
    eraseOriginal(run.session, source);
    if (run.shell.errorTexts().size() != errorsBefore)
        return false;
    const SourceSnapshot now = takeSourceSnapshot(source.path);
    if (now.taken && now.device == source.before.device && now.inode == source.before.inode) {
        report(run.errors, escapeEntryName(source.path) + ": " + clitext::OriginalNotDeleted);
        return false;
    }
    return true;
}

// Every file to store, its folders walked, each checked before anything is
// stored: a file that cannot be read or measured is named with the system's
// reason. What a folder held that is not stored is listed, one line each.
bool gatherSources(CommandRun& run, std::vector<SourceFile>& sources) {
    const SourceList list = expandSources(run.invocation.files);
    if (!list.unlistedFolder.empty()) {
        report(run.errors, escapeEntryName(list.unlistedFolder) + ": " + list.unlistedWhy);
        return false;
    }
    for (const PassedOver& item : list.passedOver)
        report(run.errors, clitext::passedOver(escapeEntryName(item.path), item.why));
    for (const std::string& path : list.files) {
        SourceFile& source = sources.emplace_back();
        source.path = path;
        if (const std::string problem = sourceProblem(path, source.size); !problem.empty()) {
            report(run.errors, escapeEntryName(path) + ": " + problem);
            return false;
        }
    }
    return true;
}

// Says what the list will show of a file just stored: a name cut to the
// field's 50 bytes, and a name that another entry has as well (extracting
// both then puts the later one under a numbered name).
void reportStoredName(CommandRun& run, const SourceFile& source,
                      std::unordered_set<std::string>& storedNames) {
    const std::string name = storedNameOf(source.path);
    const std::string stored = name.substr(0, keptNameLength(name));
    // Through the shell, which ends the progress line first.
    if (stored.size() < name.size())
        run.shell.showMessage(
            clitext::nameShortened(escapeEntryName(source.path), escapeEntryName(stored)), "",
            MessageIcon::Information);
    if (!storedNames.insert(stored).second)
        run.shell.showMessage(
            clitext::nameTaken(escapeEntryName(source.path), escapeEntryName(stored)), "",
            MessageIcon::Information);
}

} // namespace

ExitCode runCreate(CommandRun& run) {
    createSafe(run.session, run.invocation.sealed ? SafeFormat::Sealed : SafeFormat::Plain);
    if (!isSafeOpen(run.session.state))
        return ExitCode::Failed;
    return outcome(run.shell);
}

// All or nothing, so that exit status 1 always means an unchanged safe file:
// the files are stored in order into the working copy, and the first one
// refused ends the add before anything is saved. The originals are erased
// only once the safe file holding them is written: the working copy goes away
// when the tool ends, so until then it is no copy to rely on.
ExitCode runAdd(CommandRun& run) {
    std::vector<SourceFile> sources;
    if (!gatherSources(run, sources))
        return ExitCode::Failed;
    const auto& details = run.session.state.entryDetails;
    std::unordered_set<std::string> storedNames;
    for (const EntryDetail& entry : details)
        storedNames.insert(entry.name);
    std::uint64_t totalBytes = 0;
    for (const SourceFile& source : sources)
        totalBytes += source.size;

    const int count = static_cast<int>(sources.size());
    if (count > 1)
        run.shell.startAddBatch(sources.size(), totalBytes);
    std::vector<SourceFile> stored;
    for (int i = 0; i < count; ++i) {
        SourceFile source;
        const std::string& path = sources[static_cast<std::size_t>(i)].path;
        run.shell.startAddBatchFile(static_cast<std::uint64_t>(i) + 1,
                                    sources[static_cast<std::size_t>(i)].size);
        if (!measureSource(run.session, path, source) ||
            !storeSource(run.session, source, entries_text::addingFileOf(i + 1, count))) {
            run.shell.endAddBatch();
            return ExitCode::Failed;
        }
        stored.push_back(source);
        reportStoredName(run, source, storedNames);
    }
    run.shell.endAddBatch();
    if (stored.empty())
        return ExitCode::Success;
    if (saveBack(run) != ExitCode::Success)
        return ExitCode::Failed;
    if (!run.invocation.eraseOriginals)
        return ExitCode::Success;
    bool allErased = true;
    for (const SourceFile& source : stored)
        allErased = eraseStoredOriginal(run, source) && allErased;
    return allErased ? ExitCode::Success : ExitCode::StoredNotErased;
}

ExitCode runRename(CommandRun& run) {
    run.shell.answers().focusedRow = run.numbers.front();
    run.shell.answers().newEntryName = run.invocation.newName;
    renameFile(run.session);
    if (run.shell.errorShown())
        return ExitCode::Failed;
    return saveBack(run);
}

// The numbers are those of the list before the run: taken from the highest
// down, each deletion leaves the rows still to go where they were. The safe
// is written once, after the last; a deletion that fails ends the run with
// nothing written, so that the safe stays as it was.
ExitCode runDelete(CommandRun& run) {
    const std::set<int, std::greater<>> rows(run.numbers.begin(), run.numbers.end());
    for (int row : rows) {
        const std::size_t before = entryRows(run.session);
        run.shell.answers().focusedRow = row;
        deleteFile(run.session);
        if (run.shell.errorShown() || entryRows(run.session) != before - 1)
            return ExitCode::Failed;
    }
    return saveBack(run);
}

ExitCode runPasswd(CommandRun& run, const std::string& newPassword) {
    // The window says the password has been changed before any save; here it
    // is said once the safe under the new password is written, or not at all.
    run.shell.holdNotices();
    changePassword(run.session);
    ExitCode result = ExitCode::Failed;
    if (run.session.state.password == newPassword) {
        const ExitCode changed = outcome(run.shell);
        result = worse(changed, saveBack(run));
    }
    run.shell.releaseNotices(result == ExitCode::Success);
    return result;
}

// Seal Safe of the window, its question answered by the command itself. A
// safe that is sealed already is left as it is.
ExitCode runSeal(CommandRun& run) {
    if (isSealed(run.session.state)) {
        report(run.errors, clitext::AlreadySealed);
        return ExitCode::Success;
    }
    sealSafe(run.session);
    return isSealed(run.session.state) ? outcome(run.shell) : ExitCode::Failed;
}

} // namespace quorvane
