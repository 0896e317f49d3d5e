#pragma once

// The commands that change the safe (create, add, rename, delete, passwd,
// seal, compact), each written back to the safe file once it is done.

#include "cli/CommandRun.h"

#include <string>

namespace quorvane {

ExitCode runCreate(CommandRun& run);
ExitCode runAdd(CommandRun& run); // in AddCommand.cpp
ExitCode runRename(CommandRun& run);
ExitCode runDelete(CommandRun& run);
ExitCode runPasswd(CommandRun& run, const std::string& newPassword);
ExitCode runSeal(CommandRun& run);
ExitCode runCompact(CommandRun& run);

// Writes the changed safe back with the window's save; a failure is told as
// the window tells it, with the reason on the line below.
ExitCode saveBack(CommandRun& run);

} // namespace quorvane
