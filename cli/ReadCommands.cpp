#include "cli/ReadCommands.h"

#include "cli/JsonText.h"
#include "cli/ListFormat.h"
#include "cli/OutputReader.h"
#include "cli/TreeCommands.h"
#include "entries/Entries.h"
#include "storage/files/FdOutputBuffer.h"
#include "storage/format/Container.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <set>
#include <unistd.h>

namespace quorvane {

ExitCode runList(CommandRun& run) {
    SafeState& state = run.session.state;
    const auto& details = state.entryDetails;
    SafeContents& contents = contentsOf(state);
    if (run.invocation.json)
        run.out << entriesJson(details, contents.entries(state), contents.keepsTree());
    else if (contents.keepsTree())
        run.out << formatTreeList(details, contents.entries(state));
    else
        for (std::size_t row = 0; row < details.size(); ++row)
            run.out << formatListLine(row, details[row]);
    run.out.flush();
    if (!run.out) {
        if (outputReaderGone(STDOUT_FILENO, errno))
            return outcome(run.shell);
        report(run.errors, clitext::ListNotWritten);
        return ExitCode::Failed;
    }
    return outcome(run.shell);
}

// Straight to the descriptor, in the large blocks the entry is read in:
// nothing of it passes through a file, and the write's own errno tells a
// reader that went away from a failed write.
ExitCode runCat(CommandRun& run) {
    SafeState& state = run.session.state;
    const auto row = static_cast<std::size_t>(run.numbers.front());
    FdOutputBuffer buffer(STDOUT_FILENO);
    std::ostream out(&buffer);
    const bool whole = contentsOf(state).extract(state, row, out);
    out.flush();
    if (buffer.error() != 0) {
        if (outputReaderGone(STDOUT_FILENO, buffer.error()))
            return outcome(run.shell);
        report(run.errors, clitext::entryNotWritten(std::strerror(buffer.error())));
        return ExitCode::Failed;
    }
    if (!whole) {
        report(run.errors, clitext::EntryNotRead);
        return ExitCode::Failed;
    }
    return outcome(run.shell);
}

ExitCode runExtract(CommandRun& run) {
    // Made only now that the safe has opened: a wrong password leaves no
    // empty folder behind.
    std::error_code failed;
    std::filesystem::create_directories(run.invocation.folder, failed);
    if (failed) {
        report(run.errors, run.invocation.folder + ": " + clitext::folderNotMade(failed.message()));
        return ExitCode::Failed;
    }
    std::set<int>& selected = run.shell.answers().selectedRows;
    selected.clear();
    SafeState& state = run.session.state;
    std::vector<std::string>& folders = run.shell.answers().selectedFolders;
    folders = run.folders;
    if (run.numbers.empty() && run.folders.empty()) {
        for (std::size_t row = 0; row < entryRows(run.session); ++row)
            selected.insert(static_cast<int>(row));
        // The whole safe: every folder, those that hold nothing too.
        if (contentsOf(state).keepsTree())
            for (const ContentEntry& entry : contentsOf(state).entries(state))
                if (entry.kind == ContentKind::Folder && entry.path.find('/') == std::string::npos)
                    folders.push_back(entry.path);
    } else {
        selected.insert(run.numbers.begin(), run.numbers.end());
    }
    // A folder stands for every file below it; its tree is made below DIR.
    for (const std::string& folder : run.folders)
        for (int row : rowsBelow(state, folder))
            selected.insert(row);
    extractFiles(run.session);
    return outcome(run.shell);
}

} // namespace quorvane
