#include "lifecycle/SafeState.h"

namespace quorvane {

std::filesystem::path workingCopyPath(const SafeState& state) { return state.workDir / "temp2"; }

std::filesystem::path newSafeContainerPath(const SafeState& state) {
    return state.workDir / "newsafe";
}

} // namespace quorvane
