#pragma once

#include "storage/format/ContainerIndex.h"

#include <cstddef>
#include <string>

namespace quorvane {

// A stored name made safe for one line of text: backslash, TAB, newline and
// carriage return become \\ \t \n \r; every other byte below 0x20 and 0x7f,
// the bytes of C1 controls, line separators and direction marks, and bytes
// that are no UTF-8 become \xHH with lowercase digits. All other bytes are
// kept as stored, so that a name in UTF-8 reads as itself.
std::string escapeEntryName(const std::string& name);

// One line of the list: "<row>\t<size>\t<escaped name>\n".
std::string formatListLine(std::size_t row, const EntryDetail& entry);

} // namespace quorvane
