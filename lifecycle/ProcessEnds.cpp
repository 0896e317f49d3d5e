#include "lifecycle/ProcessEnds.h"

#include <sys/prctl.h>

namespace quorvane {

void keepProcessPrivate() {
    // Not dumpable: no core file, and ptrace and /proc/PID/mem are closed to
    // other processes of the same user. Fails only on a kernel without prctl.
    static_cast<void>(::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0));
}

} // namespace quorvane
