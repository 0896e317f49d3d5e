#include "cli/SafeCommands.h"

#include "cli/ChangeCommands.h"
#include "cli/CliTexts.h"
#include "cli/CommandRun.h"
#include "cli/MountCommand.h"
#include "cli/ReadCommands.h"
#include "cli/TerminalShell.h"
#include "cli/TreeCommands.h"
#include "entries/ExtractTarget.h"
#include "lifecycle/Lifecycle.h"
#include "lifecycle/LifecycleTexts.h"
#include "lifecycle/SafeReadable.h"
#include "storage/format/ContainerIndex.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <unistd.h>

namespace quorvane {

namespace {

// The rename dialog takes at most this many bytes.
constexpr std::size_t NewNameLimit = EntryNameSize - 1;

// The safe's folder is where its replacement is written and then synced, so
// the operations get a path that names that folder even for a bare file name.
std::string absoluteSafePath(const std::string& given) {
    std::error_code failed;
    std::filesystem::path absolute = std::filesystem::absolute(given, failed);
    return failed ? given : absolute.string();
}

// Loading leaves out the rows of a damaged container from the first one that
// points outside it on; the window lists the rest without a word, but a
// script must learn that what it got is not the whole safe.
void reportDamage(CommandRun& run) {
    const SafeState& state = run.session.state;
    if (!state.indexDamaged)
        return;
    run.shell.showMessage(clitext::damagedSafe(state.entryDetails.size()), lifecycle_text::Error,
                          MessageIcon::Error);
}

// A refused password or file is NotOpened; a failure of the system (a full
// temporary folder, a read error) or a safe open elsewhere is Failed, so
// that a script never takes it for a wrong password.
ExitCode openSafeFile(CommandRun& run, const std::string& password) {
    SafeState& state = run.session.state;
    state.safePath = absoluteSafePath(run.invocation.safePath);
    state.password = password;
    OpenResult result = openWorkingCopy(run.session, state.safePath, lifecycle_text::OpeningSafe,
                                        lifecycle_text::CouldNotOpenFile);
    if (result == OpenResult::Refused)
        return ExitCode::NotOpened;
    if (result == OpenResult::Failed)
        return ExitCode::Failed;
    if (!isSafeOpen(state))
        return ExitCode::NotOpened;
    reportDamage(run);
    return ExitCode::Success;
}

bool takesFolders(CliCommand command) {
    return command == CliCommand::Extract || command == CliCommand::Rename ||
           command == CliCommand::Delete;
}

// Every --name and PATH must pick out exactly one entry; a file's number
// joins the others, a folder of a sealed safe joins the run's folders.
bool resolveNames(CommandRun& run) {
    SafeState& state = run.session.state;
    const auto& details = state.entryDetails;
    std::vector<std::string> given = run.invocation.names;
    if (run.invocation.command != CliCommand::Mkdir)
        given.insert(given.end(), run.invocation.paths.begin(), run.invocation.paths.end());
    for (const std::string& name : given) {
        std::vector<int> matches;
        for (std::size_t row = 0; row < details.size(); ++row) {
            if (details[row].name == name)
                matches.push_back(static_cast<int>(row));
        }
        const auto folder = matches.empty() ? contentsOf(state).entry(state, name) : std::nullopt;
        if (folder && folder->kind == ContentKind::Folder) {
            if (!takesFolders(run.invocation.command)) {
                report(run.errors, name + ": " + clitext::IsAFolder);
                return false;
            }
            run.folders.push_back(name);
            continue;
        }
        if (matches.empty()) {
            report(run.errors, name + ": " + clitext::NoEntryOfThisName);
            return false;
        }
        if (matches.size() > 1) {
            report(run.errors, clitext::nameMatchesSeveral(name, matches));
            return false;
        }
        run.numbers.push_back(matches.front());
    }
    return true;
}

// rename: a plain safe takes a name of at most NewNameLimit bytes and no
// "/"; a sealed one a path whose every part is a name it takes.
bool newNameRefused(CommandRun& run) {
    const std::string& name = run.invocation.newName;
    if (run.invocation.command != CliCommand::Rename)
        return false;
    SafeContents& contents = contentsOf(run.session.state);
    if (!contents.keepsTree()) {
        const char* refusal =
            name.size() > NewNameLimit ? clitext::NameTooLong : newNameRefusal(name);
        if (refusal != nullptr)
            report(run.errors, refusal);
        return refusal != nullptr;
    }
    for (std::size_t from = 0;;) {
        const std::size_t slash = name.find('/', from);
        const std::string part =
            name.substr(from, slash == std::string::npos ? slash : slash - from);
        const char* refusal =
            part.size() > contents.namePartMost() ? clitext::PartTooLong : newNameRefusal(part);
        if (refusal != nullptr) {
            report(run.errors, refusal);
            return true;
        }
        if (slash == std::string::npos)
            return false;
        from = slash + 1;
    }
}

bool numbersInRange(CommandRun& run) {
    for (int number : run.numbers) {
        if (static_cast<std::size_t>(number) >= entryRows(run.session)) {
            report(run.errors, std::to_string(number) + ": " + clitext::NoSuchEntry);
            return false;
        }
    }
    return true;
}

// The safe is replaced by a fresh file written beside it, so a command that
// changes it needs a folder that takes new files; asked before any password,
// so that nothing is done first that could not be kept ("File deleted", then
// "Failed to Save file!"). A folder that is missing is left to the command's
// own message. The reason, or nothing when the folder takes files.
std::optional<std::string> folderRefusesNewFiles(const std::string& safePath) {
    std::error_code failed;
    // Where a link stands for the safe, the save writes beside the file it names.
    std::filesystem::path safe = std::filesystem::weakly_canonical(safePath, failed);
    if (failed)
        safe = std::filesystem::absolute(safePath, failed);
    const std::filesystem::path folder = safe.parent_path();
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0 || errno == ENOENT)
        return std::nullopt;
    return std::strerror(errno);
}

bool changesTheSafe(CliCommand command) {
    return command == CliCommand::Add || command == CliCommand::Rename ||
           command == CliCommand::Delete || command == CliCommand::Passwd ||
           command == CliCommand::Seal || command == CliCommand::Compact ||
           command == CliCommand::Mkdir;
}

ExitCode runOnOpenSafe(CommandRun& run, const CommandPasswords& passwords) {
    const ExitCode opened = openSafeFile(run, passwords.current);
    if (opened != ExitCode::Success)
        return opened;
    // Before the numbers are looked at: what a safe that did not load
    // cleanly seems to hold is no ground for any change.
    if (changesTheSafe(run.invocation.command) && refuseIfReadOnly(run.session))
        return ExitCode::Failed;
    if (!numbersInRange(run) || !resolveNames(run) || newNameRefused(run))
        return ExitCode::BadUsage;
    switch (run.invocation.command) {
    case CliCommand::List:
        return runList(run);
    case CliCommand::Cat:
        return runCat(run);
    case CliCommand::Add:
        return runAdd(run);
    case CliCommand::Extract:
        return runExtract(run);
    case CliCommand::Rename:
        return runRename(run);
    case CliCommand::Delete:
        return runDelete(run);
    case CliCommand::Passwd:
        return runPasswd(run, passwords.next.value_or(""));
    case CliCommand::Seal:
        return runSeal(run);
    case CliCommand::Mkdir:
        return runMkdir(run);
    case CliCommand::Compact:
        return runCompact(run);
    case CliCommand::Mount:
        return runMount(run.invocation, run.session, run.shell, run.guard, run.out, run.errors);
    default:
        return ExitCode::BadUsage;
    }
}

TerminalAnswers answersFor(const Invocation& invocation, const CommandPasswords& passwords) {
    TerminalAnswers answers;
    answers.password = passwords.next;
    answers.safePath = absoluteSafePath(invocation.safePath);
    answers.folder = invocation.folder;
    answers.yes = invocation.command == CliCommand::Seal;
    if (invocation.overwrite)
        answers.existingFile = ExistingFileChoice::Replace;
    else if (invocation.skipExisting)
        answers.existingFile = ExistingFileChoice::Skip;
    else if (invocation.keepBoth)
        answers.existingFile = ExistingFileChoice::KeepBoth;
    return answers;
}

} // namespace

// Asked before any password: a safe that cannot be read is known to fail
// before anyone types a password for it or a script's password file is read.
ExitCode checkBeforeOpening(const Invocation& invocation, std::ostream& errors) {
    if (invocation.command != CliCommand::Create) {
        if (const std::optional<Failure> unreadable = safeNotReadable(invocation.safePath)) {
            report(errors, invocation.safePath + ": " + unreadable->detail);
            return ExitCode::NotOpened;
        }
    }
    // A mount's work is written back to the safe, unless it is mounted read-only.
    const bool mountWrites = invocation.command == CliCommand::Mount && !invocation.readOnly;
    if (changesTheSafe(invocation.command) || mountWrites ||
        invocation.command == CliCommand::Create) {
        if (const auto refusal = folderRefusesNewFiles(invocation.safePath)) {
            report(errors, invocation.safePath + ": " + clitext::folderRefusesChange(*refusal));
            return ExitCode::Failed;
        }
    }
    std::error_code ignored;
    switch (invocation.command) {
    case CliCommand::Create:
        // symlink_status: a dangling link is an existing file too.
        if (!invocation.force && std::filesystem::exists(std::filesystem::symlink_status(
                                     invocation.safePath, ignored))) {
            report(errors, invocation.safePath + ": " + clitext::SafeExists);
            return ExitCode::Failed;
        }
        return ExitCode::Success;
    case CliCommand::Mount:
        return checkMountFolder(invocation, errors);
    case CliCommand::Extract:
        // A missing DIR is made once the safe has opened, as archivers do.
        if (std::filesystem::exists(invocation.folder, ignored) &&
            !std::filesystem::is_directory(invocation.folder, ignored)) {
            report(errors, invocation.folder + ": " + clitext::NotADirectory);
            return ExitCode::Failed;
        }
        return ExitCode::Success;
    case CliCommand::Rename:
        // A path's separators and a long name are judged once the format is
        // known (see newNameRefused): a sealed safe takes both.
        if (invocation.newName.find('/') == std::string::npos &&
            invocation.newName.size() <= NewNameLimit)
            if (const char* refusal = newNameRefusal(invocation.newName)) {
                report(errors, refusal);
                return ExitCode::BadUsage;
            }
        return ExitCode::Success;
    default:
        return ExitCode::Success;
    }
}

ExitCode runSafeCommand(const Invocation& invocation, const CommandPasswords& passwords,
                        const std::filesystem::path& workDir, std::ostream& out,
                        std::ostream& errors, SignalGuard* guard) {
    SafeState state;
    state.workDir = workDir;
    TerminalShell shell(answersFor(invocation, passwords), errors, ::isatty(STDERR_FILENO) == 1);
    if (invocation.quiet)
        shell.keepNoticesShort();
    Session session{state, shell};
    CommandRun run{invocation, session, shell, out, errors, invocation.numbers, {}, guard};

    ExitCode code =
        invocation.command == CliCommand::Create ? runCreate(run) : runOnOpenSafe(run, passwords);
    discardWorkingCopy(state);
    return code;
}

} // namespace quorvane
