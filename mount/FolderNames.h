#pragma once

// The names under which the folder shows the entries of a safe.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

// The longest name a file in the folder may have: the entry's name field.
inline constexpr std::size_t FolderNameLimit = 50;

// The numbered name extracting all gives a second file of one name ("stem
// (n).ext"), with the stem cut (never inside a UTF-8 character) where the
// whole would pass FolderNameLimit bytes: a name in the folder must be one
// an entry can be stored under.
std::string folderNumberedName(const std::string& name, int number);

// One name per entry, in the order of the entries, as extracting all into an
// empty folder names the files: an entry's own name, or, when an earlier
// entry shows under it already, the first numbered name still free.
// A name that can mean nothing but a file in one folder is shown; others
// ("", ".", "..", with a '/') are nullopt, as extracting skips them.
std::vector<std::optional<std::string>> folderNames(const std::vector<std::string>& storedNames);

// A name's number, the same whenever it is asked: across the kernel
// forgetting the name (libfuse's own numbers change then) and across mounts.
// `git status` compares it with the one its index keeps and reads every file
// whose number moved. Never 0 or 1 (1 is the top's).
std::uint64_t inodeOf(const std::string& name);

} // namespace quorvane
