#pragma once

#include "cli/CommandLine.h"
#include "cli/ExitCode.h"

#include <optional>
#include <string>

namespace quorvane {

// The passwords a command needs, all taken before the safe is touched.
struct CommandPasswords {
    std::string current;             // opens the safe (every command but create)
    std::optional<std::string> next; // the new safe's (create) or the new one (passwd)
};

// Fills passwords from the password files or the terminal. On failure leaves
// a message in error and the exit status in code.
bool acquirePasswords(const Invocation& invocation, CommandPasswords& passwords, ExitCode& code,
                      std::string& error);

} // namespace quorvane
