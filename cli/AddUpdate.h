#pragma once

// add --update: which of the files to add are stored already, byte for byte,
// and which entry a changed one replaces. The plain format keeps no times,
// so "changed" is decided by the bytes alone: a different size, else the
// first byte that differs.

#include "cli/CliFailure.h"
#include "entries/AddSteps.h"
#include "lifecycle/SafeState.h"

#include <cstddef>
#include <optional>
#include <vector>

namespace quorvane {

struct UpdatePlan {
    std::vector<SourceFile> toStore;          // in the order given
    std::vector<std::optional<int>> replaces; // for each of toStore: the entry it replaces
    std::size_t unchanged = 0;
};

// A file whose stored name exactly one entry has replaces that entry unless
// their bytes are the same; one whose name several entries have is left out
// when one of them holds its bytes, else added beside them. A file that
// cannot be read fails the whole add, as in any add.
CliResult<UpdatePlan> planUpdate(SafeState& state, const std::vector<SourceFile>& sources);

} // namespace quorvane
