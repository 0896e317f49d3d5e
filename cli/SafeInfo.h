#pragma once

#include "cli/ExitCode.h"

#include <ostream>
#include <string>

namespace quorvane {

// `info SAFE`: the safe's format, and for a sealed safe how its key is
// derived, read from the file's first bytes without a password; as lines of
// text, or as one JSON document. The plain format has no signature, so any
// file that is not sealed reads as plain, and info says so.
ExitCode printSafeInfo(const std::string& safePath, bool json, std::ostream& out,
                       std::ostream& errors);

} // namespace quorvane
