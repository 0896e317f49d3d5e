#pragma once

#include "cli/CommandLine.h"
#include "cli/ExitCode.h"
#include "cli/SignalGuard.h"
#include "cli/TerminalShell.h"
#include "lifecycle/Session.h"

#include <ostream>

namespace quorvane {

// mount SAFE DIR: shows the open safe as the folder DIR until it is
// unmounted (Ctrl-C, SIGTERM, fusermount3 -u DIR), then writes the safe if
// the folder changed it, as closing does.
ExitCode runMount(const Invocation& invocation, Session& session, TerminalShell& shell,
                  SignalGuard* guard, std::ostream& out, std::ostream& errors);

// DIR must be an empty folder: mounting over files would hide them.
ExitCode checkMountFolder(const Invocation& invocation, std::ostream& errors);

} // namespace quorvane
