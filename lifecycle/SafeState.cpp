#include "lifecycle/SafeState.h"

#include <system_error>

namespace quorvane {

std::filesystem::path workingCopyPath(const SafeState& state) {
    return state.workDir / "temp2";
}

SafeContents& contentsOf(SafeState& state) {
    if (state.vault)
        return *state.vault;
    state.plainView.emplace(*state.workingCopy);
    return *state.plainView;
}

void discardWorkingCopy(SafeState& state) {
    // What was not committed is given up: the safe file keeps its last
    // committed state, nothing more.
    if (state.vault && state.vault->changed())
        state.vault->discard();
    state.vault.reset();
    state.plainView.reset();
    // The sector file goes, and its key with it.
    state.workingCopy.reset();
    std::error_code ignored;
    std::filesystem::remove(workingCopyPath(state), ignored);
    state.safeLock.release();
    state.sealedKey.reset(); // wiped as it goes
    state.readOnly = false;
    state.indexDamaged = false;
}

} // namespace quorvane
