#pragma once

#include <string>
#include <vector>

namespace quorvane {

// The whole tool: args are the arguments after the program name; returns the exit status.
int runCli(const std::vector<std::string>& args);

} // namespace quorvane
