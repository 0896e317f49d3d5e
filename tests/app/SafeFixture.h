#pragma once

// Real safes for the window tests, made and read back through the program's
// own operations with the scripted port, in a private temporary folder.

#include "tests/support/ScriptedShell.h"
#include "tests/support/TestFiles.h"

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace quorvane::test {

using NamedContent = std::pair<std::string, std::string>;

// Creates a safe at the path under the password, holding these files in
// this order (written beside the safe first, then dropped into it).
void makeSafe(const std::filesystem::path& safe, const std::string& password,
              const std::vector<NamedContent>& files);

// The rows that opening the safe with the password lists; the failure
// messages shown, if the open did not go through, in `messages`.
std::vector<ListRow> listSafe(const std::filesystem::path& safe, const std::string& password,
                              std::vector<std::string>* messages = nullptr);

} // namespace quorvane::test
