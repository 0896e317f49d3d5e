// The add command: the files and folders given, checked before anything is
// stored, stored in order, the safe written once, and the originals erased
// only after that. With --update a file already stored as it is stays out and
// a changed one replaces its entry; with --quiet one line counts what would
// have been said of each file.

#include "cli/AddUpdate.h"
#include "cli/ChangeCommands.h"
#include "cli/ListFormat.h"
#include "cli/TreeCommands.h"
#include "entries/AddSteps.h"
#include "entries/Entries.h"
#include "entries/FolderSources.h"
#include "entries/Messages.h"
#include "storage/files/SourceSnapshot.h"
#include "storage/format/Container.h"

#include <algorithm>
#include <functional>
#include <set>
#include <unordered_set>

namespace quorvane {

namespace {

// What the lines about single files would have said, for --quiet.
struct FileNotes {
    std::uint64_t cut = 0;
    std::uint64_t taken = 0;
    std::uint64_t passedOver = 0;
};

// A line about one file: said, or with --quiet only counted.
void noteFile(CommandRun& run, const std::string& line, std::uint64_t& count) {
    ++count;
    // Through the shell, which ends the progress line first.
    if (!run.invocation.quiet)
        run.shell.showMessage(line, "", MessageIcon::Information);
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
// In a safe that keeps folders each file given goes below --to, and a folder
// given keeps its tree under its own name there (its folders, the empty ones
// too, in folders). Elsewhere every file goes in by its name.
bool gatherSources(CommandRun& run, std::vector<SourceFile>& sources, FileNotes& notes,
                   std::vector<TreeFolder>& folders) {
    const bool tree = contentsOf(run.session.state).keepsTree();
    for (const std::string& given : run.invocation.files) {
        const SourceList list = expandSources({given});
        if (!list.unlistedFolder.empty()) {
            report(run.errors, escapeEntryName(list.unlistedFolder) + ": " + list.unlistedWhy);
            return false;
        }
        for (const PassedOver& item : list.passedOver)
            noteFile(run, clitext::passedOver(escapeEntryName(item.path), item.why),
                     notes.passedOver);
        const std::string to = run.invocation.to.value_or("");
        if (tree && !listTreeFolders(given, to, folders)) {
            report(run.errors, escapeEntryName(given) + ": " + clitext::FolderNotListed);
            return false;
        }
        for (const std::string& path : list.files) {
            SourceFile& source = sources.emplace_back();
            source.path = path;
            if (tree)
                source.storedPath = treePathOf(given, path, to);
            if (const std::string problem = sourceProblem(path, source.size); !problem.empty()) {
                report(run.errors, escapeEntryName(path) + ": " + problem);
                return false;
            }
        }
    }
    return true;
}

// Says what the list will show of a file just stored: a name cut to the
// field's 50 bytes, and a name that another entry has as well (extracting
// both then puts the later one under a numbered name).
void reportStoredName(CommandRun& run, const SourceFile& source,
                      std::unordered_set<std::string>& storedNames, FileNotes& notes) {
    const std::string stored = storedPathOf(run.session.state, source);
    if (run.session.state.vault == nullptr && stored != storedNameOf(source.path))
        noteFile(run, clitext::nameShortened(escapeEntryName(source.path), escapeEntryName(stored)),
                 notes.cut);
    if (!storedNames.insert(stored).second)
        noteFile(run, clitext::nameTaken(escapeEntryName(source.path), escapeEntryName(stored)),
                 notes.taken);
}

// Stores the sources in order into the working copy, each as it was measured
// into stored; false once one is refused.
bool storeAll(CommandRun& run, const UpdatePlan& plan, FileNotes& notes,
              std::vector<SourceFile>& stored) {
    const auto& details = run.session.state.entryDetails;
    std::unordered_set<std::string> storedNames;
    for (std::size_t row = 0; row < details.size(); ++row) {
        // The name of an entry being replaced is free for its new version.
        const bool replaced =
            std::find(plan.replaces.begin(), plan.replaces.end(),
                      std::optional<int>(static_cast<int>(row))) != plan.replaces.end();
        if (!replaced)
            storedNames.insert(details[row].name);
    }
    std::uint64_t totalBytes = 0;
    for (const SourceFile& source : plan.toStore)
        totalBytes += source.size;
    const int count = static_cast<int>(plan.toStore.size());
    if (count > 1)
        run.shell.startAddBatch(plan.toStore.size(), totalBytes);
    for (int i = 0; i < count; ++i) {
        const SourceFile& given = plan.toStore[static_cast<std::size_t>(i)];
        SourceFile source;
        source.storedPath = given.storedPath;
        // A vault replaces the entry in place; the plain container appends
        // and removes the old entry afterwards (removeReplaced).
        source.replacesEntry = plan.replaces[static_cast<std::size_t>(i)].has_value();
        run.shell.startAddBatchFile(static_cast<std::uint64_t>(i) + 1, given.size);
        if (!measureSource(run.session, given.path, source) ||
            !storeSource(run.session, source, entries_text::addingFileOf(i + 1, count))) {
            run.shell.endAddBatch();
            return false;
        }
        stored.push_back(source);
        reportStoredName(run, source, storedNames, notes);
    }
    run.shell.endAddBatch();
    return true;
}

// The entries the stored files replace, from the highest row down so that
// the rows still to go stay where they were; "File deleted" is not said of
// an entry that is replaced.
bool removeReplaced(CommandRun& run, const UpdatePlan& plan) {
    if (contentsOf(run.session.state).keepsTree())
        return true;
    std::set<int, std::greater<>> rows;
    for (const auto& row : plan.replaces)
        if (row)
            rows.insert(*row);
    run.shell.holdNotices();
    for (int row : rows) {
        const std::size_t before = entryRows(run.session);
        run.shell.answers().focusedRow = row;
        deleteFile(run.session);
        if (run.shell.errorShown() || entryRows(run.session) != before - 1) {
            run.shell.releaseNotices(false);
            return false;
        }
    }
    run.shell.releaseNotices(false);
    return true;
}

// Once the safe is written: the counts of --quiet (where there is anything to
// count) and of --update.
void reportCounts(CommandRun& run, const UpdatePlan& plan, const FileNotes& notes) {
    if (run.invocation.quiet && (notes.cut != 0 || notes.taken != 0 || notes.passedOver != 0))
        report(run.errors, clitext::fileNotesSummary(notes.cut, notes.taken, notes.passedOver));
    if (!run.invocation.update)
        return;
    const auto replaced = static_cast<std::uint64_t>(
        std::count_if(plan.replaces.begin(), plan.replaces.end(),
                      [](const std::optional<int>& row) { return row.has_value(); }));
    report(run.errors,
           clitext::updateSummary(plan.toStore.size() - replaced, replaced, plan.unchanged));
}

} // namespace

// All or nothing, so that exit status 1 always means an unchanged safe file:
// the files are stored in order into the working copy, and the first one
// refused ends the add before anything is saved. The originals are erased
// only once the safe file holding them is written: the working copy goes away
// when the tool ends, so until then it is no copy to rely on.
ExitCode runAdd(CommandRun& run) {
    std::vector<SourceFile> sources;
    FileNotes notes;
    std::vector<TreeFolder> folders;
    if (run.invocation.to && refusedWithoutTree(run, *run.invocation.to))
        return ExitCode::Failed;
    if (!gatherSources(run, sources, notes, folders))
        return ExitCode::Failed;
    UpdatePlan plan;
    if (run.invocation.update) {
        CliResult<UpdatePlan> planned = planUpdate(run.session.state, sources);
        if (!planned) {
            report(run.errors, planned.failure().message);
            return planned.failure().code;
        }
        plan = std::move(planned.value());
    } else {
        plan.toStore = sources;
        plan.replaces.assign(sources.size(), std::nullopt);
    }
    std::vector<SourceFile> stored;
    std::vector<TreeFolder> made;
    if (!makeTreeFolders(run, folders, made) || !storeAll(run, plan, notes, stored) ||
        !removeReplaced(run, plan))
        return ExitCode::Failed;
    keepTreeFolderTimes(run, made);
    if ((!stored.empty() || !folders.empty()) && saveBack(run) != ExitCode::Success)
        return ExitCode::Failed;
    reportCounts(run, plan, notes);
    if (!run.invocation.eraseOriginals)
        return ExitCode::Success;
    bool allErased = true;
    for (const SourceFile& source : stored)
        allErased = eraseStoredOriginal(run, source) && allErased;
    return allErased ? ExitCode::Success : ExitCode::StoredNotErased;
}

} // namespace quorvane
