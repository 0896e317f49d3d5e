#pragma once

#include <string>

namespace quorvane {

// The bash completion of quorvane-cli, written from the table of commands and
// options at build time: the commands, the options each command takes (the
// tool refuses the others), and where a word is a safe, a file or a folder.
std::string bashCompletionScript();

} // namespace quorvane
