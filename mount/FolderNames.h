#pragma once

// The names under which the folder shows the entries of a safe.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

// The longest name a file in the folder may have: the entry's name field.
inline constexpr std::size_t FolderNameLimit = 50;

// "stem (n).ext": the number goes before the extension, as extracting all
// gives a second file of one name; the stem is cut (never inside a UTF-8
// character) so that the whole stays within FolderNameLimit bytes.
std::string numberedName(const std::string& name, int number);

// One name per entry, in the order of the entries: an entry's own name, or,
// when an earlier entry shows under it already, the first free numbered name.
// A name that can mean nothing but a file in one folder is shown; others
// ("", ".", "..", with a '/') are nullopt, as extracting skips them.
std::vector<std::optional<std::string>> folderNames(const std::vector<std::string>& storedNames);

} // namespace quorvane
