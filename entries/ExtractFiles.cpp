#include "entries/Entries.h"
#include "entries/ExtractTarget.h"
#include "entries/Messages.h"
#include "storage/format/Container.h"

namespace quorvane {

namespace text = entries_text;

namespace {

struct ExtractReport {
    std::vector<entries_text::ExtractProblem> skipped;
    std::vector<entries_text::ExtractProblem> failed;
    std::vector<entries_text::ExtractProblem> renamed; // detail: the name it went under
};

// Up to this size a copy is a short step (see Shell::runShortStep).
constexpr std::uint64_t ShortCopyLimit = 4 * StreamBlockSize;

bool rowIsLoaded(const SafeState& state, int row) {
    return row >= 0 && static_cast<std::size_t>(row) < state.entryDetails.size() &&
           static_cast<std::size_t>(row) < state.indexRows.size();
}

void extractRow(Session& session, ExtractFolder& folder, const std::string& folderPath, int row,
                ExtractReport& report) {
    SafeState& state = session.state;
    const auto entry = static_cast<std::size_t>(row);
    const std::string name = state.entryDetails[entry].name;
    const ProgressCallback progress = session.shell.byteProgress();
    TargetResult result;
    const auto extract = [&] {
        result = writeEntryFile(folder, name, [&](std::ostream& out) {
            return extractEntryContent(*state.workingCopy, state, entry, out, progress);
        });
    };
    if (state.entryDetails[entry].size <= ShortCopyLimit)
        session.shell.runShortStep(extract);
    else
        session.shell.runBusy(extract);
    if (result.outcome == TargetOutcome::Skipped)
        report.skipped.push_back({row, name, result.detail});
    else if (result.outcome == TargetOutcome::Failed)
        report.failed.push_back(
            {row, name, folderPath + "/" + text::escapedName(name) + ": " + result.detail});
    else if (!result.writtenAs.empty())
        report.renamed.push_back({row, name, result.writtenAs});
}

void showReport(Shell& shell, const ExtractReport& report) {
    if (!report.skipped.empty())
        shell.showMessage(text::skippedEntriesReport(report.skipped), text::CaptionError,
                          MessageIcon::Error);
    if (!report.failed.empty())
        shell.showMessage(text::failedEntriesReport(report.failed), text::CaptionError,
                          MessageIcon::Error);
    if (!report.renamed.empty())
        shell.showMessage(text::renamedEntriesReport(report.renamed), text::CaptionSuccess,
                          MessageIcon::Information);
}

} // namespace

void extractFiles(Session& session) {
    Shell& shell = session.shell;
    session.CurrentRow = shell.nextSelectedRow(-1);
    std::string folderPath;
    if (!shell.ChooseFolder(folderPath, text::SelectADirectory))
        return;

    ExtractFolder folder(folderPath, session.state.safePath);
    ExtractReport report;
    // The selection is asked for again before every file, as the list may say
    // more rows are selected than it then hands out.
    for (int k = 0; k < shell.selectedCount(); ++k) {
        if (!isSafeOpen(session.state) || !rowIsLoaded(session.state, session.CurrentRow)) {
            shell.showMessage(text::ExtractionFailed, text::CaptionUnknownError,
                              MessageIcon::Error);
            break;
        }
        shell.ShowProgress(text::extractingFileOf(k + 1, shell.selectedCount()));
        extractRow(session, folder, folderPath, session.CurrentRow, report);
        shell.HideProgress();
        session.CurrentRow = shell.nextSelectedRow(session.CurrentRow);
    }
    showReport(shell, report);
}

} // namespace quorvane
