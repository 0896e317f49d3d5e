#pragma once

// The overwrite pattern of SecureEraseOpenFile, written through a descriptor.

#include <cstdint>
#include <string_view>

namespace quorvane {

// Stored safes and erased files have always been overwritten with this.
inline constexpr std::string_view ErasePattern = "ABABABABAB";

// Writes `count` bytes of the repeated pattern from the start of the file
// behind fd, with pwrite. 0 on success, else the errno of the failed write.
int writeErasePatternFromStart(int fd, std::uint64_t count);

} // namespace quorvane
