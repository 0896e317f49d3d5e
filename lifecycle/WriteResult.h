#pragma once

// How a write of the safe file ended, returned to whoever asked for it: the
// caller tells the user, so the session keeps no failure of its own.

#include "storage/Failure.h"
#include "storage/workingcopy/RandomAccessFile.h"

#include <optional>
#include <string>
#include <utility>

namespace quorvane {

struct WriteResult {
    std::optional<Failure> failure; // why the safe file keeps its last state; none when written
    // Written, but a step after the write did not go through (its folder was
    // not synced): said after the write; empty when there is nothing to say.
    std::string warning;
    // Written into a new file that could not keep all of the old one's access
    // (its owner, group or ACL): what changed, told after the write.
    std::string accessNotice;

    bool written() const { return !failure.has_value(); }
};

inline WriteResult writeFailed(std::string detail, int error = 0) {
    return {Failure{error, std::move(detail)}, {}, {}};
}

// What a write that stopped on error says: an errno value in the system's
// words, one of the program's own (negative, no errno) in ours.
inline Failure failureOn(int error) {
    return {error > 0 ? error : 0, failureText(error)};
}

} // namespace quorvane
