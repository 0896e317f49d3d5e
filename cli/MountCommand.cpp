#include "cli/MountCommand.h"

#include "cli/CliTexts.h"
#include "cli/MountEnding.h"
#include "cli/UnattendedClose.h"
#include "lifecycle/Lifecycle.h"
#include "lifecycle/LifecycleTexts.h"
#include "mount/MountedFolder.h"

#include <csignal>
#include <filesystem>
#include <mutex>

namespace quorvane {

namespace {

void report(std::ostream& errors, const std::string& text) {
    errors << clitext::MessagePrefix << text << '\n' << std::flush;
}

// The desktop program's preferences, with the command line's options over them.
CloseSettings closeSettingsFor(const Invocation& invocation) {
    CloseSettings settings = readCloseSettings(settingsFilePath());
    // The command line's durations were checked when it was read.
    if (invocation.idle)
        parseDuration(*invocation.idle, settings.idle);
    std::optional<std::chrono::milliseconds> grace;
    if (invocation.grace && parseDuration(*invocation.grace, grace) && grace)
        settings.grace = *grace;
    return settings;
}

std::filesystem::path absoluteFolder(const std::string& given) {
    std::error_code failed;
    std::filesystem::path absolute = std::filesystem::absolute(given, failed);
    return failed ? std::filesystem::path(given) : absolute.lexically_normal();
}

} // namespace

ExitCode checkMountFolder(const Invocation& invocation, std::ostream& errors) {
    std::error_code failed;
    if (!std::filesystem::is_directory(invocation.folder, failed)) {
        report(errors, invocation.folder + ": " + clitext::NotADirectory);
        return ExitCode::Failed;
    }
    if (!std::filesystem::is_empty(invocation.folder, failed) || failed) {
        report(errors, invocation.folder + ": " + clitext::FolderNotEmpty);
        return ExitCode::Failed;
    }
    return ExitCode::Success;
}

ExitCode runMount(const Invocation& invocation, Session& session, TerminalShell& shell,
                  SignalGuard* guard, std::ostream& out, std::ostream& errors) {
    SafeState& state = session.state;
    MountSettings settings;
    settings.readOnly = invocation.readOnly || state.readOnly;
    if (state.readOnly && !invocation.readOnly)
        report(errors, clitext::FolderReadOnly);
    SessionLock lock;
    MountedFolder folder(state, lock, settings, [&]() -> std::optional<Failure> {
        return writeSafeFile(session, lifecycle_text::Saving).failure;
    });
    folder.onSaveFailed = [&](const std::string& reason) {
        report(errors, clitext::timedSaveFailed(reason));
    };
    folder.onStoreFailed = [&](const std::string& name, const std::string& reason) {
        report(errors, clitext::notStored(name, reason));
    };
    bool safeChanged = false;
    folder.onSafeChanged = [&] {
        safeChanged = true;
        report(errors, lifecycle_text::SafeChangedInPlace);
    };
    folder.onStateFolderGone = [&] { report(errors, clitext::StateFolderGone); };
    folder.onFolderRefused = [&] { report(errors, clitext::FolderRefusedInPlainSafe); };
    const std::filesystem::path dir = absoluteFolder(invocation.folder);
    if (const std::optional<Failure> failed = folder.mount(dir)) {
        report(errors, dir.string() + ": " + clitext::NotMounted + failed->detail);
        return ExitCode::Failed;
    }
    if (guard != nullptr) {
        guard->divert([&folder, &errors, stops = 0](int signal) mutable {
            if (signal != SIGINT && signal != SIGTERM && signal != SIGHUP)
                return false;
            const bool force = ++stops > 1;
            if (!force && folder.openFiles() != 0)
                report(errors, clitext::WaitingForOpenFiles);
            folder.stop(force);
            return true;
        });
    }
    const CloseSettings closing = closeSettingsFor(invocation);
    CloseWatch watch(closing);
    watch.logSources("quorvane-cli");
    watch.session().holdSleepDelay();
    UnattendedClose unattended(folder, watch, closing.grace, dir, errors);
    folder.watchAlso(unattended.sideWatch());
    folder.onRequest = [&watch] { watch.noteUse(); };
    out << clitext::folderOpen(dir.string()) << std::flush;
    folder.serve();
    // Nothing to write, or nothing that may be written: another program
    // rewrote the safe, and it is never written over.
    ExitCode ended = ExitCode::Success;
    if (safeChanged || settings.readOnly) {
        if (guard != nullptr)
            guard->divert({});
        ended = safeChanged || shell.errorShown() ? ExitCode::Failed : ExitCode::Success;
    } else {
        // The diversion stays until finishMount sets its own: a Ctrl-C in
        // between must not end the process with the work unsaved.
        const bool failedBefore = shell.errorShown();
        ended = finishMount({session, folder, guard, errors});
        if (ended == ExitCode::Success && failedBefore)
            ended = ExitCode::Failed;
    }
    // Sleep may go on once the safe is written and the folder gone.
    watch.session().releaseSleepDelay();
    if (ended == ExitCode::Success && unattended.reason())
        report(errors, clitext::folderClosed(closeReasonText(*unattended.reason())));
    return ended;
}

} // namespace quorvane
