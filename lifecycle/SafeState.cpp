#include "lifecycle/SafeState.h"

#include <system_error>

namespace quorvane {

std::filesystem::path workingCopyPath(const SafeState& state) {
    return state.workDir / "temp2";
}

std::filesystem::path newSafeContainerPath(const SafeState& state) {
    return state.workDir / "newsafe";
}

void discardWorkingCopy(SafeState& state) {
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
