#pragma once

namespace quorvane {

// What scripts see of a run. The values are part of the tool's interface.
enum class ExitCode : int {
    Success = 0,
    Failed = 1,    // the operation failed: a file refused, unreadable, unwritable, a name skipped
    BadUsage = 2,  // the command line or a password source could not be used
    NotOpened = 3, // the safe could not be opened: wrong password, not a safe, unreadable
};

inline int toInt(ExitCode code) {
    return static_cast<int>(code);
}

// The worse of two outcomes, so that a later success never hides an earlier failure.
inline ExitCode worse(ExitCode a, ExitCode b) {
    return toInt(a) >= toInt(b) ? a : b;
}

} // namespace quorvane
