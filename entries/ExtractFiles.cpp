#include "entries/Entries.h"
#include "entries/ExtractTarget.h"
#include "entries/ExtractTree.h"
#include "entries/Messages.h"
#include "storage/files/ExistingFile.h"
#include "storage/format/Container.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <set>

namespace quorvane {

namespace text = entries_text;

namespace {

struct ExtractReport {
    std::vector<entries_text::ExtractProblem> skipped;
    std::vector<entries_text::ExtractProblem> failed;
    std::vector<entries_text::ExtractProblem> renamed;      // detail: the name it went under
    std::vector<entries_text::ExtractProblem> keptBeside;   // detail: the name it went under
    std::vector<entries_text::ExtractProblem> existingKept; // not written, by the user's choice
    std::vector<entries_text::UnmadeFolder> unmadeFolders;
};

// The user's answers about different files already in the folder; one given
// for all of them is not asked again.
struct ExistingFileChoices {
    std::optional<ExistingFileChoice> forAll;
    std::string progressText; // of the entry being extracted

    // The question is never asked under the busy box, which comes back after it.
    ExistingFileChoice choose(Shell& shell, const std::string& path) {
        if (forAll)
            return *forAll;
        shell.busy.HideProgress();
        const ExistingFileAnswer answer = shell.talk.askExistingFile(path);
        shell.busy.ShowProgress(progressText);
        if (answer.forAll)
            forAll = answer.choice;
        return answer.choice;
    }
};

// Up to this size a copy is a short step (see Shell::runShortStep).
constexpr std::uint64_t ShortCopyLimit = 4 * StreamBlockSize;
// How far the numbered names beside a file are looked through for an earlier copy.
constexpr int MostNumberedNames = 1000;

bool rowIsLoaded(const SafeState& state, int row) {
    return row >= 0 && static_cast<std::size_t>(row) < state.entryDetails.size() &&
           static_cast<std::size_t>(row) < state.indexRows.size();
}

// A step over the entry's bytes, under the busy box when there are many.
void runStep(Session& session, std::size_t entry, const std::function<void()>& step) {
    if (session.state.entryDetails[entry].size <= ShortCopyLimit)
        session.shell.busy.runShortStep(step);
    else
        session.shell.busy.runBusy(step);
}

// What stands under the entry's name already: a file with the entry's bytes
// is left as it is, and a different one is replaced, left, or kept beside
// the entry, as the user says. False when the entry is not to be written.
// Whether the file under name holds the entry's bytes (a step over them).
bool holdsEntry(Session& session, ExtractFolder& folder, const std::string& name,
                std::size_t entry) {
    SafeState& state = session.state;
    bool same = false;
    runStep(session, entry, [&] {
        same = holdsEntryBytes(folder, name, state.entryDetails[entry].size,
                               [&](std::uint64_t offset, void* into, std::size_t count) {
                                   return contentsOf(state).read(state, entry, offset, into, count);
                               });
    });
    return same;
}

// An entry that an earlier extraction kept beside a different file is there
// already under a numbered name: the same extraction run again (a script, a
// job) does not add one more copy each time.
bool keptBesideAlready(Session& session, ExtractFolder& folder, const std::string& name,
                       std::size_t entry) {
    const EntryDetail& detail = session.state.entryDetails[entry];
    for (int number = 2; number < MostNumberedNames; ++number) {
        const std::string numbered = numberedName(name, number);
        const ExistingFile existing = lookAtExisting(folder, numbered, detail.size);
        if (existing == ExistingFile::None)
            return false;
        if (existing == ExistingFile::SameSize && holdsEntry(session, folder, numbered, entry))
            return true;
    }
    return false;
}

bool settleExistingFile(Session& session, const TreePlace& place, int row, ExtractReport& report,
                        ExistingFileChoices& choices, bool& besideExisting) {
    SafeState& state = session.state;
    const auto entry = static_cast<std::size_t>(row);
    ExtractFolder& folder = *place.folder;
    const std::string& folderPath = place.shownFolder;
    const std::string& name = place.name;
    const std::uint64_t size = state.entryDetails[entry].size;
    const ExistingFile existing = lookAtExisting(folder, name, size);
    if (existing == ExistingFile::None || existing == ExistingFile::LeftToPlacement)
        return true;
    if (existing == ExistingFile::SameSize && holdsEntry(session, folder, name, entry))
        return false;
    const std::string separator = folderPath.ends_with('/') ? "" : "/";
    const ExistingFileChoice choice =
        choices.choose(session.shell, folderPath + separator + text::escapedName(name));
    if (choice == ExistingFileChoice::Skip) {
        report.existingKept.push_back({row, state.entryDetails[entry].name, ""});
        return false;
    }
    besideExisting = choice == ExistingFileChoice::KeepBoth;
    return !besideExisting || !keptBesideAlready(session, folder, name, entry);
}

void extractRow(Session& session, ExtractTree& tree, int row, ExtractReport& report,
                ExistingFileChoices& choices) {
    SafeState& state = session.state;
    const auto entry = static_cast<std::size_t>(row);
    const std::string name = state.entryDetails[entry].name;
    const TreePlace place = tree.placeOf(name);
    const std::string& folderPath = place.shownFolder;
    if (place.folder == nullptr) {
        report.failed.push_back({row, name, folderPath + ": " + std::strerror(place.error)});
        return;
    }
    bool beside = false;
    if (!settleExistingFile(session, place, row, report, choices, beside))
        return;
    const ProgressCallback progress = session.shell.busy.byteProgress();
    const std::optional<mode_t> ownerBits = tree.ownerBitsOf(state, name);
    TargetResult result;
    runStep(session, entry, [&] {
        result = writeEntryFile(
            *place.folder, place.name,
            [&](std::ostream& out) {
                return contentsOf(state).extract(state, entry, out, progress);
            },
            beside, ownerBits);
    });
    // Our own words for a damaged file, not the working copy's: the other
    // files of the safe still extract.
    if (result.outcome == TargetWrite::Failed && contentsOf(state).lastError() == ContentDamaged)
        result.detail = std::string(text::StoredFileDamaged) + text::IncompleteFileRemoved;
    if (result.outcome == TargetWrite::Skipped)
        report.skipped.push_back({row, name, result.detail});
    else if (result.outcome == TargetWrite::Failed)
        report.failed.push_back(
            {row, name, folderPath + "/" + text::escapedName(place.name) + ": " + result.detail});
    else if (!result.writtenAs.empty())
        (beside ? report.keptBeside : report.renamed).push_back({row, name, result.writtenAs});
    if (result.outcome == TargetWrite::Written)
        tree.stampFile(state, name, place,
                       result.writtenAs.empty() ? place.name : result.writtenAs);
}

bool isAtOrBelow(const std::string& path, const std::string& folder) {
    return path.starts_with(folder) && (path.size() == folder.size() || path[folder.size()] == '/');
}

std::string folderOfPath(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// A selected folder stands for its whole tree: the folders in it that hold
// nothing are made here (with the folders that lead to them), the others
// as their files are written, so that a folder whose files the window's
// filter left out is not made empty.
void makeSelectedFolders(Session& session, ExtractTree& tree, const std::string& folderPath,
                         ExtractReport& report) {
    const std::vector<std::string> selected = session.shell.list.selectedFolders();
    if (selected.empty() || !isSafeOpen(session.state))
        return;
    SafeState& state = session.state;
    const std::vector<ContentEntry> entries = contentsOf(state).entries(state);
    std::set<std::string> holdSomething;
    for (const ContentEntry& entry : entries)
        holdSomething.insert(folderOfPath(entry.path));
    for (const ContentEntry& entry : entries) {
        const auto below = [&](const std::string& folder) {
            return isAtOrBelow(entry.path, folder);
        };
        if (entry.kind != ContentKind::Folder || holdSomething.count(entry.path) > 0 ||
            std::none_of(selected.begin(), selected.end(), below))
            continue;
        // Below a folder that could not be made, the one reason is enough.
        if (std::any_of(report.unmadeFolders.begin(), report.unmadeFolders.end(),
                        [&](const text::UnmadeFolder& unmade) { return below(unmade.path); }))
            continue;
        if (const int error = tree.makeFolder(entry.path); error != 0)
            report.unmadeFolders.push_back(
                {entry.path, folderPath + (folderPath.ends_with('/') ? "" : "/") +
                                 text::escapedName(entry.path) + ": " + std::strerror(error)});
    }
}

void showReport(Shell& shell, const ExtractReport& report) {
    if (!report.skipped.empty())
        shell.talk.showMessage(text::skippedEntriesReport(report.skipped), text::CaptionError,
                               MessageIcon::Error);
    if (!report.failed.empty())
        shell.talk.showMessage(text::failedEntriesReport(report.failed), text::CaptionError,
                               MessageIcon::Error);
    if (!report.unmadeFolders.empty())
        shell.talk.showMessage(text::unmadeFoldersReport(report.unmadeFolders), text::CaptionError,
                               MessageIcon::Error);
    if (!report.renamed.empty())
        shell.talk.showMessage(text::renamedEntriesReport(report.renamed), text::CaptionSuccess,
                               MessageIcon::Information);
    if (!report.keptBeside.empty())
        shell.talk.showMessage(text::keptBesideReport(report.keptBeside), text::CaptionSuccess,
                               MessageIcon::Information);
    if (!report.existingKept.empty())
        shell.talk.showMessage(text::existingKeptReport(report.existingKept), text::CaptionSuccess,
                               MessageIcon::Information);
}

} // namespace

void extractFiles(Session& session) {
    Shell& shell = session.shell;
    session.CurrentRow = shell.list.nextSelectedRow(-1);
    std::string folderPath;
    if (!shell.pickers.ChooseFolder(folderPath, text::SelectADirectory))
        return;

    ExtractFolder folder(folderPath, session.state.safePath);
    ExtractTree tree(folder, folderPath, contentsOf(session.state).keepsTree());
    ExtractReport report;
    ExistingFileChoices choices;
    // The selection is asked for again before every file, as the list may say
    // more rows are selected than it then hands out.
    for (int k = 0; k < shell.list.selectedCount(); ++k) {
        if (!isSafeOpen(session.state) || !rowIsLoaded(session.state, session.CurrentRow)) {
            shell.talk.showMessage(text::ExtractionFailed, text::CaptionUnknownError,
                                   MessageIcon::Error);
            break;
        }
        choices.progressText = text::extractingFileOf(k + 1, shell.list.selectedCount());
        shell.busy.ShowProgress(choices.progressText);
        extractRow(session, tree, session.CurrentRow, report, choices);
        shell.busy.HideProgress();
        session.CurrentRow = shell.list.nextSelectedRow(session.CurrentRow);
    }
    makeSelectedFolders(session, tree, folderPath, report);
    if (isSafeOpen(session.state))
        tree.stampFolders(session.state);
    showReport(shell, report);
}

} // namespace quorvane
