#pragma once

// The overwrite pattern shared by SecureErase and the shortening of a working
// copy, and the one call that pushes a file's bytes to the disk.

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string_view>

namespace quorvane {

// Stored safes and erased files have always been overwritten with this.
inline constexpr std::string_view ErasePattern = "ABABABABAB";

// Writes `count` bytes of the repeated pattern at out's position, in large
// blocks. Returns false when out failed.
bool writeErasePattern(std::ostream& out, std::uint64_t count);

// The same from the start of the file behind fd, written with pwrite. 0 on
// success, else the errno of the failed write.
int writeErasePatternFromStart(int fd, std::uint64_t count);

// fsync of the file at path: an overwrite that is only in the page cache
// protects nothing once the file is truncated or deleted. False on failure.
bool syncFileToDisk(const std::filesystem::path& path);

} // namespace quorvane
