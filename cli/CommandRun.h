#pragma once

// One run of a safe command of the tool: what it was asked, the session it
// works on, and where it writes. Shared by the commands that only read the
// safe and those that change it.

#include "cli/CliTexts.h"
#include "cli/CommandLine.h"
#include "cli/ExitCode.h"
#include "cli/TerminalShell.h"
#include "lifecycle/Session.h"

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

namespace quorvane {

class SignalGuard;

// One message line on the error stream, in the tool's own form.
inline void report(std::ostream& errors, const std::string& text) {
    errors << clitext::MessagePrefix << text << '\n' << std::flush;
}

struct CommandRun {
    const Invocation& invocation;
    Session& session;
    TerminalShell& shell;
    std::ostream& out;
    std::ostream& errors;
    // The entries the command works on: its numbers, then those its --name options found.
    std::vector<int> numbers;
    // The folders of a sealed safe it works on, by path (extract, rename, delete).
    std::vector<std::string> folders;
    // The signal watcher of the run, for the commands that wait for one (mount).
    SignalGuard* guard = nullptr;
};

// Failed once any error has been shown, whatever the operation returned.
inline ExitCode outcome(const TerminalShell& shell) {
    return shell.errorShown() ? ExitCode::Failed : ExitCode::Success;
}

inline std::size_t entryRows(const Session& session) {
    return session.state.entryDetails.size();
}

} // namespace quorvane
