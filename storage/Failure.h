#pragma once

// The one way the storage layer says that a step failed: returned to the
// caller, who decides what the user is told (storage knows no user and
// prints nothing).

#include <string>

namespace quorvane {

struct Failure {
    int error = 0;      // the errno of the system call that failed; 0 when none did
    std::string detail; // the layer's own words: a format's or a library's text
};

} // namespace quorvane
