#pragma once

#include "cli/ExitCode.h"

#include <ostream>
#include <string>

namespace quorvane {

// `info SAFE`: the safe's format, and for a sealed safe how its key is
// derived, read from the file's first bytes without a password.
ExitCode printSafeInfo(const std::string& safePath, std::ostream& out, std::ostream& errors);

} // namespace quorvane
