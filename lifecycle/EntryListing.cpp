#include "lifecycle/EntryListing.h"

#include "lifecycle/LifecycleTexts.h"
#include "storage/format/Container.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace quorvane {

namespace {

// The list shows entry numbers as signed 32-bit values ("%d"), as it always has.
std::string signedDecimal(std::uint32_t value) {
    return std::to_string(static_cast<std::int32_t>(value));
}

} // namespace

std::string sizeText(std::uint32_t size) {
    // Stored sizes are unsigned: a file of 2 GiB or more must not read negative.
    return std::to_string(size) + " Bytes";
}

void loadIndex(SafeState& state, Shell& shell) {
    IndexReadReport report = readContainerIndex(*state.workingCopy, state);
    state.indexDamaged = report.damaged;
    state.indexReadFailed = report.readFailed;
    if (report.readFailed)
        state.failureReason = report.readError;
    // Never cleared here: a session that once lost its footing stays read-only.
    if (!report.clean())
        state.readOnly = true;
    if (report.versionMismatch)
        shell.showMessage(lifecycle_text::IncompatibleFile, lifecycle_text::Error,
                          MessageIcon::Error);
}

namespace {

void showRow(SafeState& state, Shell& shell, std::size_t i) {
    const int row = static_cast<int>(i);
    shell.insertRow(row, signedDecimal(state.indexRows[i].entryNumber));
    shell.setRowText(row, 1, state.entryDetails[i].name);
    shell.setRowText(row, 2, sizeText(state.entryDetails[i].size));
}

} // namespace

void showEntryList(SafeState& state, Shell& shell) {
    shell.deleteAllRows();
    // A damaged container loads fewer rows than its header counts: list only
    // the rows that were loaded, so that row i stays entry i.
    const std::size_t rows = std::min(state.indexRows.size(), state.entryDetails.size());
    for (std::size_t i = 0; i < rows; ++i)
        showRow(state, shell, i);
}

void showAddedRow(SafeState& state, Shell& shell) {
    if (!state.indexRows.empty() && state.indexRows.size() == state.entryDetails.size())
        showRow(state, shell, state.indexRows.size() - 1);
}

void refreshEntryList(SafeState& state, Shell& shell) {
    shell.deleteAllRows();
    if (!isSafeOpen(state)) {
        shell.showMessage(lifecycle_text::UnableToReadFile, lifecycle_text::Error,
                          MessageIcon::Error);
        return;
    }
    loadIndex(state, shell);
    showEntryList(state, shell);
}

} // namespace quorvane
