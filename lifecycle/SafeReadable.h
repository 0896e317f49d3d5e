#pragma once

#include <string>

namespace quorvane {

// Whether the file at path can be read as a safe at all: it opens for reading
// and is a regular file. Asked before a password is, so that a safe the user
// may not read is told with the system's reason (in reason) rather than as a
// wrong password once the password is typed.
bool safeIsReadable(const std::string& path, std::string& reason);

} // namespace quorvane
