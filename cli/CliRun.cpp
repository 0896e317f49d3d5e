#include "cli/CliRun.h"

#include "cli/CliTexts.h"
#include "cli/CommandLine.h"
#include "cli/CommandPasswords.h"
#include "cli/SafeCommands.h"
#include "cli/SafeInfo.h"
#include "cli/SignalGuard.h"
#include "cli/Usage.h"
#include "mount/DeadMounts.h"
#include "storage/files/AbandonedFolders.h"
#include "storage/files/WorkingDirectory.h"

#include <iostream>
#include <optional>
#include <system_error>

namespace quorvane {

namespace {

void report(const std::string& text) {
    std::cerr << clitext::MessagePrefix << text << '\n' << std::flush;
}

int usageError(const std::string& error) {
    report(error);
    std::cerr << "Try 'quorvane-cli --help'.\n";
    return toInt(ExitCode::BadUsage);
}

int runWithWorkingDirectory(const Invocation& invocation) {
    // Declared first, so that it watches until the working directory is gone.
    SignalGuard guard;
    std::optional<WorkingDirectory> workDir;
    // What earlier runs killed outright (SIGKILL, a crash) left behind.
    removeAbandonedWorkingFolders();
    try {
        guard.guardWorkingDirectory([&] { return workDir.emplace().path(); });
    } catch (const UnsafeTemporaryDirectory& refusal) {
        report(refusal.what());
        return toInt(ExitCode::Failed);
    } catch (const std::system_error& failure) {
        report(std::string(clitext::NoWorkingFolder) + failure.code().message());
        return toInt(ExitCode::Failed);
    }

    const CliResult<CommandPasswords> passwords = acquirePasswords(invocation);
    // A Ctrl-C at a prompt also ends the line being read: neither the empty
    // password nor an error about it may go on once a signal has come.
    guard.stopHereIfSignalled();
    if (!passwords) {
        report(passwords.failure().message);
        return toInt(passwords.failure().code);
    }
    return toInt(runSafeCommand(invocation, passwords.value(), workDir->anchored(), std::cout,
                                std::cerr, &guard));
}

} // namespace

int runCli(const std::vector<std::string>& args) {
    const CliResult<Invocation> parsed = parseCommandLine(args);
    if (!parsed)
        return usageError(parsed.failure().message);
    const Invocation& invocation = parsed.value();
    if (invocation.command == CliCommand::Help) {
        // The parser let through only topics that are commands.
        std::cout << (invocation.helpTopic.empty() ? helpText()
                                                   : commandHelp(invocation.helpTopic).value_or(""))
                  << std::flush;
        return toInt(ExitCode::Success);
    }
    if (invocation.command == CliCommand::Version) {
        std::cout << versionText() << std::flush;
        return toInt(ExitCode::Success);
    }
    // What a killed mount left behind, before DIR of a mount is looked at:
    // a dead mount there would read as a folder that cannot be entered.
    removeDeadMounts();
    ExitCode early = checkBeforeOpening(invocation, std::cerr);
    if (early != ExitCode::Success)
        return toInt(early);
    // Read from the header alone: no password, no working folder.
    if (invocation.command == CliCommand::Info)
        return toInt(printSafeInfo(invocation.safePath, invocation.json, std::cout, std::cerr));
    return runWithWorkingDirectory(invocation);
}

} // namespace quorvane
