#include "lifecycle/SafeState.h"

#include <system_error>

namespace quorvane {

std::filesystem::path workingCopyPath(const SafeState& state) {
    return state.workDir / "temp2";
}

void discardWorkingCopy(SafeState& state) {
    // Nothing pending is worth writing: the file goes, and its key with it.
    state.workingCopyStream.dropPending();
    if (state.workingCopyStream.is_open())
        state.workingCopyStream.close();
    state.workingCopyStream.clear();
    std::error_code ignored;
    std::filesystem::remove(workingCopyPath(state), ignored);
    state.safeLock.release();
    state.sealedKey.reset(); // wiped as it goes
    state.readOnly = false;
    state.indexDamaged = false;
    state.indexReadFailed = false;
}

} // namespace quorvane
