#pragma once

namespace quorvane {

// What scripts see of a run. The values are part of the tool's interface.
enum class ExitCode : int {
    Success = 0,
    Failed = 1,    // the operation failed: a file refused, unreadable, unwritable, a name skipped
    BadUsage = 2,  // the command line or a password source could not be used
    NotOpened = 3, // the safe could not be opened: missing, unreadable, wrong password, not a safe
    // add: every file was stored and the safe written, but an original was not
    // erased. The safe did change, so this must never read as a failure (1).
    StoredNotErased = 4,
};

inline int toInt(ExitCode code) {
    return static_cast<int>(code);
}

// The worse of two outcomes, so that a later success never hides an earlier
// failure. StoredNotErased ranks just above Success: the work was done.
inline ExitCode worse(ExitCode a, ExitCode b) {
    auto severity = [](ExitCode code) {
        return code == ExitCode::StoredNotErased ? 1 : 2 * toInt(code);
    };
    return severity(a) >= severity(b) ? a : b;
}

} // namespace quorvane
