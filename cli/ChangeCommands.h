#pragma once

// The commands that change the safe (create, add, rename, delete, passwd,
// seal), each written back to the safe file once it is done.

#include "cli/CommandRun.h"

#include <string>

namespace quorvane {

ExitCode runCreate(CommandRun& run);
ExitCode runAdd(CommandRun& run);
ExitCode runRename(CommandRun& run);
ExitCode runDelete(CommandRun& run);
ExitCode runPasswd(CommandRun& run, const std::string& newPassword);
ExitCode runSeal(CommandRun& run);

} // namespace quorvane
