#include "cli/ChangeCommands.h"

#include "cli/TreeCommands.h"

#include "entries/Entries.h"
#include "lifecycle/Lifecycle.h"
#include "lifecycle/LifecycleTexts.h"
#include "lifecycle/SafeFileWriting.h"
#include "lifecycle/SafeFormat.h"

#include <filesystem>
#include <functional>
#include <set>

namespace quorvane {

// Writes the changed safe back with the window's save: a fresh file renamed
// over the safe, so that a failure leaves the safe file as it was. A failure
// is told as the window tells it, with the reason on the line below.
ExitCode saveBack(CommandRun& run) {
    const std::size_t errorsBefore = run.shell.errorTexts().size();
    const WriteResult saved = writeSafeFile(run.session, lifecycle_text::Saving);
    if (saved.written())
        return ExitCode::Success;
    if (run.shell.errorTexts().size() == errorsBefore)
        showSaveFailed(run.session, *saved.failure);
    return ExitCode::Failed;
}

ExitCode runCreate(CommandRun& run) {
    createSafe(run.session, run.invocation.sealed ? SafeFormat::Sealed : SafeFormat::Plain);
    if (!isSafeOpen(run.session.state))
        return ExitCode::Failed;
    return outcome(run.shell);
}

ExitCode runRename(CommandRun& run) {
    SafeState& state = run.session.state;
    // A sealed safe moves the entry, or a folder with everything in it, to the new path.
    if (contentsOf(state).keepsTree())
        return runMove(run,
                       run.folders.empty()
                           ? state.entryDetails[static_cast<std::size_t>(run.numbers.front())].name
                           : run.folders.front());
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
    // Asked before anything goes: a "no" leaves the safe as it was.
    if (!foldersMayGo(run))
        return ExitCode::Failed;
    for (int row : rows) {
        const std::size_t before = entryRows(run.session);
        run.shell.answers().focusedRow = row;
        deleteFile(run.session);
        if (run.shell.errorShown() || entryRows(run.session) != before - 1)
            return ExitCode::Failed;
    }
    if (!removeFolders(run))
        return ExitCode::Failed;
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

} // namespace quorvane

namespace quorvane {

namespace {

std::uint64_t fileSize(const std::string& path) {
    std::error_code failed;
    const std::uintmax_t size = std::filesystem::file_size(path, failed);
    return failed ? 0 : size;
}

// A vault written anew over the safe file; a failure leaves the file as it was.
ExitCode compactOpenVault(CommandRun& run, VaultContents& vault) {
    const WriteResult compacted = compactVault(run.session, vault, clitext::Compacting);
    if (!compacted.written()) {
        showSaveFailed(run.session, *compacted.failure);
        return ExitCode::Failed;
    }
    if (!compacted.warning.empty()) // the new file is in place; its folder was not synced
        report(run.errors, compacted.warning);
    return ExitCode::Success;
}

} // namespace

// The first sealed version has no unused space either, but its next save
// writes the second version, compact: asked to compact, it is written now.
ExitCode runCompact(CommandRun& run) {
    SafeState& state = run.session.state;
    if (!isSealed(state)) {
        report(run.errors, clitext::PlainHasNothingToCompact);
        return ExitCode::Success;
    }
    const std::uint64_t before = fileSize(state.safePath);
    const ExitCode written = state.vault ? compactOpenVault(run, *state.vault) : saveBack(run);
    if (written == ExitCode::Success)
        report(run.errors, clitext::compacted(before, fileSize(state.safePath)));
    return written;
}

} // namespace quorvane
