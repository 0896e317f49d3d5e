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
};

bool rowIsLoaded(const SafeState& state, int row) {
    return row >= 0 && static_cast<std::size_t>(row) < state.entryDetails.size() &&
           static_cast<std::size_t>(row) < state.indexRows.size();
}

void extractRow(Session& session, const ExtractFolder& folder, const std::string& folderPath,
                int row, ExtractReport& report) {
    SafeState& state = session.state;
    const auto entry = static_cast<std::size_t>(row);
    const std::string name = state.entryDetails[entry].name;
    const ProgressCallback progress = session.shell.byteProgress();
    TargetResult result;
    session.shell.runBusy([&] {
        result = writeEntryFile(folder, name, [&](std::ostream& out) {
            return extractEntryContent(state.workingCopyStream, state, entry, out, progress);
        });
    });
    if (result.outcome == TargetOutcome::Skipped)
        report.skipped.push_back({row, name, result.detail});
    else if (result.outcome == TargetOutcome::Failed)
        report.failed.push_back({row, name, folderPath + "/" + name + ": " + result.detail});
}

void showReport(Shell& shell, const ExtractReport& report) {
    if (!report.skipped.empty())
        shell.showMessage(text::skippedEntriesReport(report.skipped), text::CaptionError,
                          MessageIcon::Error);
    if (!report.failed.empty())
        shell.showMessage(text::failedEntriesReport(report.failed), text::CaptionError,
                          MessageIcon::Error);
}

} // namespace

void extractFiles(Session& session) {
    Shell& shell = session.shell;
    session.CurrentRow = shell.nextSelectedRow(-1);
    std::string folderPath;
    if (!shell.ChooseFolder(folderPath, text::SelectADirectory))
        return;

    const ExtractFolder folder(folderPath, session.state.safePath);
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
