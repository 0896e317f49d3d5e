#pragma once

#include "cli/CliFailure.h"
#include "cli/Invocation.h"

#include <optional>
#include <string>

namespace quorvane {

// The passwords a command needs, all taken before the safe is touched.
struct CommandPasswords {
    std::string current;             // opens the safe (every command but create)
    std::optional<std::string> next; // the new safe's (create) or the new one (passwd)
};

// The passwords from the password files or the terminal.
CliResult<CommandPasswords> acquirePasswords(const Invocation& invocation);

} // namespace quorvane
