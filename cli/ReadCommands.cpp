#include "cli/ReadCommands.h"

#include "cli/JsonText.h"
#include "cli/ListFormat.h"
#include "entries/Entries.h"

#include <set>

namespace quorvane {

ExitCode runList(CommandRun& run) {
    const auto& details = run.session.state.entryDetails;
    if (run.invocation.json)
        run.out << entriesJson(details);
    else
        for (std::size_t row = 0; row < details.size(); ++row)
            run.out << formatListLine(row, details[row]);
    run.out.flush();
    if (!run.out) {
        report(run.errors, clitext::ListNotWritten);
        return ExitCode::Failed;
    }
    return outcome(run.shell);
}

ExitCode runExtract(CommandRun& run) {
    std::set<int>& selected = run.shell.answers().selectedRows;
    selected.clear();
    if (run.numbers.empty()) {
        for (std::size_t row = 0; row < entryRows(run.session); ++row)
            selected.insert(static_cast<int>(row));
    } else {
        selected.insert(run.numbers.begin(), run.numbers.end());
    }
    extractFiles(run.session);
    return outcome(run.shell);
}

} // namespace quorvane
