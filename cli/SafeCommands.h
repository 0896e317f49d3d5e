#pragma once

#include "cli/CommandLine.h"
#include "cli/CommandPasswords.h"
#include "cli/ExitCode.h"
#include "cli/SignalGuard.h"

#include <filesystem>
#include <ostream>

namespace quorvane {

// Checks that need no password (a safe file that can be read, an existing
// file for create, the folder of an extract, the new name of a rename), made
// before any password is asked or read. Reports to errors.
ExitCode checkBeforeOpening(const Invocation& invocation, std::ostream& errors);

// Runs a safe command through the window's own operations, with the private
// working directory workDir. Writes the list to out, messages to errors.
// guard, when given, is the process's watcher of signals (mount takes them over).
ExitCode runSafeCommand(const Invocation& invocation, const CommandPasswords& passwords,
                        const std::filesystem::path& workDir, std::ostream& out,
                        std::ostream& errors, SignalGuard* guard = nullptr);

} // namespace quorvane
