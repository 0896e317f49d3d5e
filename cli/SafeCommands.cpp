#include "cli/SafeCommands.h"

#include "cli/CliTexts.h"
#include "cli/JsonText.h"
#include "cli/ListFormat.h"
#include "cli/MountCommand.h"
#include "cli/TerminalShell.h"
#include "entries/AddSteps.h"
#include "entries/Entries.h"
#include "entries/ExtractTarget.h"
#include "entries/FolderSources.h"
#include "entries/Messages.h"
#include "entries/SourceSnapshot.h"
#include "lifecycle/Lifecycle.h"
#include "lifecycle/LifecycleTexts.h"
#include "lifecycle/SafeFormat.h"
#include "lifecycle/SafeReadable.h"
#include "storage/format/Container.h"
#include "storage/format/ContainerIndex.h"

#include <functional>
#include <set>
#include <unistd.h>
#include <unordered_set>

namespace quorvane {

namespace {

// The rename dialog takes at most this many bytes.
constexpr std::size_t NewNameLimit = EntryNameSize - 1;

void report(std::ostream& errors, const std::string& text) {
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
    SignalGuard* guard = nullptr;
};

ExitCode outcome(const TerminalShell& shell) {
    return shell.errorShown() ? ExitCode::Failed : ExitCode::Success;
}

// The safe's folder is where its replacement is written and then synced, so
// the operations get a path that names that folder even for a bare file name.
std::string absoluteSafePath(const std::string& given) {
    std::error_code failed;
    std::filesystem::path absolute = std::filesystem::absolute(given, failed);
    return failed ? given : absolute.string();
}

std::size_t entryRows(const Session& session) {
    return session.state.entryDetails.size();
}

// Writes the changed safe back with the window's save: a fresh file renamed
// over the safe, so that a failure leaves the safe file as it was. A failure
// is told as the window tells it, with the reason on the line below.
ExitCode saveBack(CommandRun& run) {
    const std::size_t errorsBefore = run.shell.errorTexts().size();
    if (writeSafeFile(run.session, lifecycle_text::Saving))
        return ExitCode::Success;
    if (run.shell.errorTexts().size() == errorsBefore)
        showSaveFailed(run.session);
    return ExitCode::Failed;
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

// Every --name must pick out exactly one entry; its number joins the others.
bool resolveNames(CommandRun& run) {
    const auto& details = run.session.state.entryDetails;
    for (const std::string& name : run.invocation.names) {
        std::vector<int> matches;
        for (std::size_t row = 0; row < details.size(); ++row) {
            if (details[row].name == name)
                matches.push_back(static_cast<int>(row));
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

bool numbersInRange(CommandRun& run) {
    for (int number : run.numbers) {
        if (static_cast<std::size_t>(number) >= entryRows(run.session)) {
            report(run.errors, std::to_string(number) + ": " + clitext::NoSuchEntry);
            return false;
        }
    }
    return true;
}

bool changesTheSafe(CliCommand command) {
    return command == CliCommand::Add || command == CliCommand::Rename ||
           command == CliCommand::Delete || command == CliCommand::Passwd ||
           command == CliCommand::Seal;
}

ExitCode runCreate(CommandRun& run) {
    createSafe(run.session, run.invocation.sealed ? SafeFormat::Sealed : SafeFormat::Plain);
    if (!isSafeOpen(run.session.state))
        return ExitCode::Failed;
    return outcome(run.shell);
}

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
bool gatherSources(CommandRun& run, std::vector<SourceFile>& sources) {
    const SourceList list = expandSources(run.invocation.files);
    if (!list.unlistedFolder.empty()) {
        report(run.errors, escapeEntryName(list.unlistedFolder) + ": " + list.unlistedWhy);
        return false;
    }
    for (const PassedOver& item : list.passedOver)
        report(run.errors, clitext::passedOver(escapeEntryName(item.path), item.why));
    for (const std::string& path : list.files) {
        SourceFile& source = sources.emplace_back();
        source.path = path;
        if (const std::string problem = sourceProblem(path, source.size); !problem.empty()) {
            report(run.errors, escapeEntryName(path) + ": " + problem);
            return false;
        }
    }
    return true;
}

// Says what the list will show of a file just stored: a name cut to the
// field's 50 bytes, and a name that another entry has as well (extracting
// both then puts the later one under a numbered name).
void reportStoredName(CommandRun& run, const SourceFile& source,
                      std::unordered_set<std::string>& storedNames) {
    const std::string name = storedNameOf(source.path);
    const std::string stored = name.substr(0, keptNameLength(name));
    // Through the shell, which ends the progress line first.
    if (stored.size() < name.size())
        run.shell.showMessage(
            clitext::nameShortened(escapeEntryName(source.path), escapeEntryName(stored)), "",
            MessageIcon::Information);
    if (!storedNames.insert(stored).second)
        run.shell.showMessage(
            clitext::nameTaken(escapeEntryName(source.path), escapeEntryName(stored)), "",
            MessageIcon::Information);
}

// All or nothing, so that exit status 1 always means an unchanged safe file:
// the files are stored in order into the working copy, and the first one
// refused ends the add before anything is saved. The originals are erased
// only once the safe file holding them is written: the working copy goes away
// when the tool ends, so until then it is no copy to rely on.
ExitCode runAdd(CommandRun& run) {
    std::vector<SourceFile> sources;
    if (!gatherSources(run, sources))
        return ExitCode::Failed;
    const auto& details = run.session.state.entryDetails;
    std::unordered_set<std::string> storedNames;
    for (const EntryDetail& entry : details)
        storedNames.insert(entry.name);
    std::uint64_t totalBytes = 0;
    for (const SourceFile& source : sources)
        totalBytes += source.size;

    const int count = static_cast<int>(sources.size());
    if (count > 1)
        run.shell.startAddBatch(sources.size(), totalBytes);
    std::vector<SourceFile> stored;
    for (int i = 0; i < count; ++i) {
        SourceFile source;
        const std::string& path = sources[static_cast<std::size_t>(i)].path;
        run.shell.startAddBatchFile(static_cast<std::uint64_t>(i) + 1,
                                    sources[static_cast<std::size_t>(i)].size);
        if (!measureSource(run.session, path, source) ||
            !storeSource(run.session, source, entries_text::addingFileOf(i + 1, count))) {
            run.shell.endAddBatch();
            return ExitCode::Failed;
        }
        stored.push_back(source);
        reportStoredName(run, source, storedNames);
    }
    run.shell.endAddBatch();
    if (stored.empty())
        return ExitCode::Success;
    if (saveBack(run) != ExitCode::Success)
        return ExitCode::Failed;
    if (!run.invocation.eraseOriginals)
        return ExitCode::Success;
    bool allErased = true;
    for (const SourceFile& source : stored)
        allErased = eraseStoredOriginal(run, source) && allErased;
    return allErased ? ExitCode::Success : ExitCode::StoredNotErased;
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

ExitCode runRename(CommandRun& run) {
    run.shell.answers().focusedRow = run.numbers.front();
    run.shell.answers().newEntryName = run.invocation.newName;
    renameFile(run.session);
    if (run.shell.errorShown())
        return ExitCode::Failed;
    return saveBack(run);
}

// The numbers are those of the list before the run: taken from the highest
// down, each deletion leaves the rows still to go where they were. The safe
// is written once, after the last; a deletion that fails ends the run with
// nothing written, so that the safe stays as it was.
ExitCode runDelete(CommandRun& run) {
    const std::set<int, std::greater<>> rows(run.numbers.begin(), run.numbers.end());
    for (int row : rows) {
        const std::size_t before = entryRows(run.session);
        run.shell.answers().focusedRow = row;
        deleteFile(run.session);
        if (run.shell.errorShown() || entryRows(run.session) != before - 1)
            return ExitCode::Failed;
    }
    return saveBack(run);
}

ExitCode runPasswd(CommandRun& run, const std::string& newPassword) {
    // The window says the password has been changed before any save; here it
    // is said once the safe under the new password is written, or not at all.
    run.shell.holdNotices();
    changePassword(run.session);
    ExitCode result = ExitCode::Failed;
    if (run.session.state.password == newPassword) {
        const ExitCode changed = outcome(run.shell);
        result = worse(changed, saveBack(run));
    }
    run.shell.releaseNotices(result == ExitCode::Success);
    return result;
}

// Seal Safe of the window, its question answered by the command itself. A
// safe that is sealed already is left as it is.
ExitCode runSeal(CommandRun& run) {
    if (isSealed(run.session.state)) {
        report(run.errors, clitext::AlreadySealed);
        return ExitCode::Success;
    }
    sealSafe(run.session);
    return isSealed(run.session.state) ? outcome(run.shell) : ExitCode::Failed;
}

ExitCode runOnOpenSafe(CommandRun& run, const CommandPasswords& passwords) {
    const ExitCode opened = openSafeFile(run, passwords.current);
    if (opened != ExitCode::Success)
        return opened;
    // Before the numbers are looked at: what a safe that did not load
    // cleanly seems to hold is no ground for any change.
    if (changesTheSafe(run.invocation.command) && refuseIfReadOnly(run.session))
        return ExitCode::Failed;
    if (!numbersInRange(run) || !resolveNames(run))
        return ExitCode::BadUsage;
    switch (run.invocation.command) {
    case CliCommand::List:
        return runList(run);
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
    return answers;
}

} // namespace

// Asked before any password: a safe that cannot be read is known to fail
// before anyone types a password for it or a script's password file is read.
ExitCode checkBeforeOpening(const Invocation& invocation, std::ostream& errors) {
    std::string reason;
    if (invocation.command != CliCommand::Create && !safeIsReadable(invocation.safePath, reason)) {
        report(errors, invocation.safePath + ": " + reason);
        return ExitCode::NotOpened;
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
        if (!std::filesystem::is_directory(invocation.folder, ignored)) {
            report(errors, invocation.folder + ": " + clitext::NotADirectory);
            return ExitCode::Failed;
        }
        return ExitCode::Success;
    case CliCommand::Rename:
        if (invocation.newName.size() > NewNameLimit) {
            report(errors, clitext::NameTooLong);
            return ExitCode::BadUsage;
        }
        if (invocation.newName == "-1") {
            report(errors, clitext::NameIsCancelMarker);
            return ExitCode::BadUsage;
        }
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
    Session session{state, shell};
    CommandRun run{invocation, session, shell, out, errors, invocation.numbers, guard};

    ExitCode code =
        invocation.command == CliCommand::Create ? runCreate(run) : runOnOpenSafe(run, passwords);
    state.workingCopy.reset();
    return code;
}

} // namespace quorvane
