#pragma once

#include <optional>
#include <string>

namespace quorvane {

std::string helpText(); // everything a person needs to use the tool
// One command's usage lines and description; nothing for a word that is no command.
std::optional<std::string> commandHelp(const std::string& command);
std::string versionText();

} // namespace quorvane
