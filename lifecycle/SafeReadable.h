#pragma once

#include "storage/Failure.h"

#include <optional>
#include <string>

namespace quorvane {

// Why the file at path cannot be read as a safe at all (it does not open for
// reading, or is no regular file); nothing when it can. Asked before a
// password is, so that a safe the user may not read is told with the
// system's reason rather than as a wrong password once the password is typed.
std::optional<Failure> safeNotReadable(const std::string& path);

} // namespace quorvane
