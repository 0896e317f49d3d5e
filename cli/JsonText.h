#pragma once

// The few pieces of JSON that list --json and info --json print.

#include "storage/format/ContainerIndex.h"
#include "storage/format/ContentEntry.h"

#include <string>
#include <vector>

namespace quorvane {

// text as a JSON string, quotes included. Bytes that are no UTF-8 become
// U+FFFD; controls, C1 controls, line separators and direction marks are
// written as \uXXXX, so that the document shows nothing but itself on a
// terminal and a parser gets the characters back.
std::string jsonString(const std::string& text);

// {"entries":[{"number":0,"name":"...","size":5,"path":"...","kind":"file",
// "modified":"2025-01-31T12:00:00Z"}, ...]}; a name that is not UTF-8 also gets
// "name_hex", its stored bytes in lowercase hexadecimal. A safe that keeps
// folders lists every entry in path order, a folder without a number; a
// plain safe lists its rows, "modified" null (it keeps no times).
std::string entriesJson(const std::vector<EntryDetail>& rows,
                        const std::vector<ContentEntry>& entries, bool keepsTree);
// A modification time in UTC as RFC 3339 text, quotes included.
std::string modifiedJson(const EntryStamp& stamp);

} // namespace quorvane
