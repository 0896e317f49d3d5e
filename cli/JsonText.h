#pragma once

// The few pieces of JSON that list --json and info --json print.

#include "storage/format/ContainerIndex.h"

#include <string>
#include <vector>

namespace quorvane {

// text as a JSON string, quotes included. Bytes that are no UTF-8 become
// U+FFFD; controls, C1 controls, line separators and direction marks are
// written as \uXXXX, so that the document shows nothing but itself on a
// terminal and a parser gets the characters back.
std::string jsonString(const std::string& text);

// {"entries":[{"number":0,"name":"...","size":5}, ...]}; a name that is not
// UTF-8 also gets "name_hex", its stored bytes in lowercase hexadecimal.
std::string entriesJson(const std::vector<EntryDetail>& entries);

} // namespace quorvane
