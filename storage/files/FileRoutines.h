#pragma once

#include <cstdint>
#include <filesystem>

namespace quorvane {

// Overwrites the file's bytes with "ABABABABAB" repeated (whole patterns, so
// the file may grow by up to 9 bytes), through a descriptor open for writing
// on a regular file, then fsync: whoever opened the file checked that it is
// the one meant, and a name swapped meanwhile cannot redirect the bytes. The
// descriptor stays the caller's. 0 when every byte is written and synced, else
// the errno of the step that failed (EINVAL for a file that is not a regular file).
int SecureEraseOpenFile(int fd);

// The file's size, 0 when its status cannot be read.
std::uint64_t fileSize(const std::filesystem::path& path);

} // namespace quorvane
