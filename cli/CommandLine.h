#pragma once

#include "cli/CliFailure.h"
#include "cli/Invocation.h"

#include <string>
#include <vector>

namespace quorvane {

// Reads the arguments after the program name as the table of commands and
// options (cli/CommandTable) describes them, and checks their shape: operand
// counts, options that fit the command, numbers that are numbers. A failure
// is a usage error.
CliResult<Invocation> parseCommandLine(const std::vector<std::string>& args);

} // namespace quorvane
