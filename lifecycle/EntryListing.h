#pragma once

#include "lifecycle/SafeState.h"
#include "ui/Shell.h"

#include <cstdint>
#include <string>

namespace quorvane {

// Loads the open working copy's header, index and entry details into state;
// reports "Incompattible file" when the version word is not 2 and goes on.
// A load that is not clean (that version, rows left out, a read error) makes
// the session read-only; a read error is left for the caller to report.
void loadIndex(SafeState& state, Shell& shell);

// Empties the list; if no safe is open says "Unable to Read File!" and stops;
// else loads the index and inserts one row per entry ("%d", name, sizeText).
void refreshEntryList(SafeState& state, Shell& shell);

// The size column's text: the stored size as the unsigned number it is, "N Bytes".
std::string sizeText(std::uint32_t size);

} // namespace quorvane
