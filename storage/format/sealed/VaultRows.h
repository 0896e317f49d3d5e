#pragma once

// The rows a vault's contents show (see VaultContents), kept in step by its
// changes without showing every row anew.

#include "storage/format/ContainerIndex.h"

#include <cstddef>
#include <cstdint>

namespace quorvane {

// Showing every row anew at each removal made emptying a folder quadratic:
// the row goes from an index that showed every row, and the later rows take
// the numbers a list made anew gives.
inline void dropShownRow(ContainerIndex& index, std::size_t row, std::uint64_t lengthInUse) {
    const auto at = static_cast<std::ptrdiff_t>(row);
    index.indexRows.erase(index.indexRows.begin() + at);
    index.entryDetails.erase(index.entryDetails.begin() + at);
    for (std::size_t later = row; later < index.indexRows.size(); ++later)
        index.indexRows[later].entryNumber = static_cast<std::uint32_t>(later + 1);
    index.entryCount = static_cast<std::uint32_t>(index.indexRows.size());
    index.workingCopyLength = lengthInUse;
}

} // namespace quorvane
