#pragma once

#include "storage/format/ContainerIndex.h"
#include "storage/format/ContentEntry.h"

#include <cstddef>
#include <string>
#include <vector>

namespace quorvane {

// A stored name made safe for one line of text: backslash, TAB, newline and
// carriage return become \\ \t \n \r; every other byte below 0x20 and 0x7f,
// the bytes of C1 controls, line separators and direction marks, and bytes
// that are no UTF-8 become \xHH with lowercase digits. All other bytes are
// kept as stored, so that a name in UTF-8 reads as itself.
std::string escapeEntryName(const std::string& name);

// One line of the list: "<row>\t<size>\t<escaped name>\n".
std::string formatListLine(std::size_t row, const EntryDetail& entry);

// The list of a safe that keeps folders, in path order: a file's line as
// above with its path and its whole size, a folder's "-\t-\t<path>/\n".
std::string formatTreeList(const std::vector<EntryDetail>& rows,
                           const std::vector<ContentEntry>& entries);

} // namespace quorvane
