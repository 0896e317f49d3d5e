#include "lifecycle/EntryListing.h"
#include "lifecycle/LifecycleTexts.h"
#include "lifecycle/SafeFileWriting.h"
#include "storage/format/sealed/VaultConversion.h"

#include <exception>

namespace quorvane {

namespace {

// The guard of every replacement of the open safe: the file must still be
// the one the session holds, and the lock moves to the new one.
ReplaceGuard guardOfSession(const SafeState& state) {
    ReplaceGuard guard;
    guard.lockFresh = true;
    if (state.safeLock.held())
        guard.expected = state.safeLock.identity();
    return guard;
}

// The lock moves to the new file; returns what of the old file's access it
// could not keep, to be told after the write.
std::string adoptReplacement(SafeState& state, ReplaceResult& result) {
    state.safeLock.adopt(std::move(result.lockedFd), result.identity);
    return accessNoticeFor(result.access);
}

// A safe file changed in place under the session ends every later write.
WriteResult commitFailed(SafeState& state, VaultContents& vault) {
    if (vault.lastError() != SafeChangedInPlace)
        return {failureOn(vault.lastError()), {}, {}};
    state.readOnly = true;
    return writeFailed(lifecycle_text::SafeChangedInPlace);
}

} // namespace

WriteResult commitVault(Session& session, VaultContents& vault, const std::string& progressText) {
    SafeState& state = session.state;
    if (!vault.changed() && !vault.wantsCompaction())
        return {}; // an unchanged safe: nothing is written, not even its times
    session.shell.busy.ShowProgress(progressText);
    WriteResult committed;
    session.shell.busy.runBusy([&] {
        try {
            if (vault.commit() != vault::StepResult::Done) {
                committed = commitFailed(state, vault);
                return;
            }
            state.safeLock.expectCurrent();
            if (vault.wantsCompaction()) {
                ReplaceResult result = vault.compact(state.safePath, guardOfSession(state));
                // A compaction that did not happen leaves the committed state,
                // which is whole: the next save tries again.
                if (result.replaced())
                    committed.accessNotice = adoptReplacement(state, result);
            }
        } catch (const std::exception& failure) { // no memory for a chunk
            committed = writeFailed(failure.what());
        }
    });
    session.shell.busy.HideProgress();
    return committed;
}

WriteResult compactVault(Session& session, VaultContents& vault, const std::string& progressText) {
    SafeState& state = session.state;
    if (!vault.unchanged())
        return commitFailed(state, vault);
    session.shell.busy.ShowProgress(progressText);
    ReplaceResult result;
    std::string accessNotice;
    session.shell.busy.runBusy([&] {
        try {
            result = vault.compact(state.safePath, guardOfSession(state));
        } catch (const std::exception& failure) { // no memory for the index
            result.failure = Failure{0, failure.what()};
        }
        if (result.replaced())
            accessNotice = adoptReplacement(state, result);
    });
    session.shell.busy.HideProgress();
    if (!result.replaced())
        return writeFailed(result.failure->detail);
    return {std::nullopt, result.warning, accessNotice};
}

WriteResult writeAsVault(Session& session, const std::string& progressText) {
    SafeState& state = session.state;
    session.shell.busy.ShowProgress(progressText);
    // A first-version safe keeps the cost its owner chose for its key.
    vault::VaultSettings settings;
    if (state.sealedKey) {
        settings.passes = state.sealedKey->parameters().passes;
        settings.memoryKiB = state.sealedKey->parameters().memoryKiB;
    }
    VaultConversion conversion;
    std::string accessNotice;
    session.shell.busy.runBusy([&] {
        try {
            conversion = convertToVault(contentsOf(state), state, state.password, settings,
                                        state.safePath, guardOfSession(state));
        } catch (const std::exception& failure) {
            conversion.contents.reset();
            conversion.replaced.failure = Failure{0, failure.what()};
        }
        if (!conversion.replaced.replaced())
            return;
        accessNotice = adoptReplacement(state, conversion.replaced);
        if (!conversion.contents) {
            // The vault is the safe now, and this session cannot follow it:
            // what it still holds must never be written over it.
            state.readOnly = true;
            conversion.replaced.failure = Failure{0, conversion.replaced.warning};
            return;
        }
        // The session goes on in the vault; the working copy is given up.
        state.vault = std::move(conversion.contents);
        state.plainView.reset();
        state.workingCopy.reset();
        std::error_code ignored;
        std::filesystem::remove(workingCopyPath(state), ignored);
        state.sealedKey.reset();
    });
    session.shell.busy.HideProgress();
    if (!conversion.replaced.replaced())
        return writeFailed(conversion.replaced.failure->detail);
    refreshEntryList(state, session.shell);
    return {std::nullopt, {}, accessNotice};
}

} // namespace quorvane
