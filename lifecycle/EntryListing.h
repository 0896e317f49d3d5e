#pragma once

#include "lifecycle/SafeState.h"
#include "storage/Failure.h"
#include "ui/Shell.h"

#include <cstdint>
#include <optional>
#include <string>

namespace quorvane {

// Loads the open working copy's header, index and entry details into state;
// reports "Incompattible file" when the version word is not 2 and goes on.
// A load that is not clean (that version, rows left out, a read error) makes
// the session read-only; a read error is returned for the caller to report.
std::optional<Failure> loadIndex(SafeState& state, Shell& shell);

// Empties the list; if no safe is open says "Unable to Read File!" and stops;
// else loads the index and inserts one row per entry ("%d", name, sizeText).
// For an open, and after a change that failed half-way: a change that worked
// keeps the index in step itself, and the list follows with the two below.
// Returns the system's failure to read the working copy, if the load met one.
std::optional<Failure> refreshEntryList(SafeState& state, Shell& shell);

// The list anew from the index in memory, without reading the working copy.
void showEntryList(SafeState& state, Shell& shell);
// Adds the row of the entry appended last.
void showAddedRow(SafeState& state, Shell& shell);
// The size column's text: the stored size as the unsigned number it is, "N Bytes".
std::string sizeText(std::uint32_t size);

} // namespace quorvane
