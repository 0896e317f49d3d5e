#pragma once

// The commands that only read the open safe: list and extract.

#include "cli/CommandRun.h"

namespace quorvane {

// Writes the list, as lines or as JSON, to the run's output.
ExitCode runList(CommandRun& run);
// Extracts the run's entries (all of them when it names none) into its folder.
ExitCode runExtract(CommandRun& run);

} // namespace quorvane
