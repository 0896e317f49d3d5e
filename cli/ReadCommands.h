#pragma once

// The commands that only read the open safe: list, cat and extract.

#include "cli/CommandRun.h"

namespace quorvane {

// Writes the list, as lines or as JSON, to the run's output.
ExitCode runList(CommandRun& run);
// Writes the run's one entry to standard output.
ExitCode runCat(CommandRun& run);
// Extracts the run's entries (all of them when it names none) into its folder.
ExitCode runExtract(CommandRun& run);

} // namespace quorvane
