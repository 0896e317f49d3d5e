#include "lifecycle/SafeState.h"

#include <system_error>

namespace quorvane {

std::filesystem::path workingCopyPath(const SafeState& state) {
    return state.workDir / "temp2";
}

void discardWorkingCopy(SafeState& state) {
    // The sector file goes, and its key with it.
    state.workingCopy.reset();
    std::error_code ignored;
    std::filesystem::remove(workingCopyPath(state), ignored);
    state.safeLock.release();
    state.sealedKey.reset(); // wiped as it goes
    state.readOnly = false;
    state.indexDamaged = false;
    state.indexReadFailed = false;
}

} // namespace quorvane
