#pragma once

// The end of a mount of the tool: the folder is closed, and what it changed
// must reach the safe file. A save that fails never drops the work: it is
// said with the system's reason and tried again until it succeeds, or until
// the user asks twice to give it up, told exactly what that loses.

#include "cli/ExitCode.h"
#include "cli/SignalGuard.h"
#include "lifecycle/Session.h"
#include "mount/MountedFolder.h"

#include <chrono>
#include <ostream>

namespace quorvane {

struct MountEnding {
    Session& session;
    MountedFolder& folder;
    SignalGuard* guard;
    std::ostream& errors;
    // Between two tries of a failed save.
    std::chrono::seconds retryEvery{10};
};

ExitCode finishMount(const MountEnding& ending);

} // namespace quorvane
