#pragma once

#include <string>

namespace quorvane {

std::string shortUsage(); // the command lines, for a usage error
std::string helpText();   // everything a person needs to use the tool
std::string versionText();

} // namespace quorvane
