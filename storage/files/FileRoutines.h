#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace quorvane {

// Overwrites the file's bytes with "ABABABABAB" repeated (whole patterns, so
// the file may grow by up to 9 bytes). Does not delete it. Silent on failure.
// The path is opened once, following links, and erased by SecureEraseOpenFile.
void SecureErase(const std::filesystem::path& path);

// The same overwrite through a descriptor open for writing on a regular file,
// then fsync: whoever opened the file checked that it is the one meant, and a
// name swapped meanwhile cannot redirect the bytes. The descriptor stays the
// caller's. 0 when every byte is written and synced, else the errno of the step
// that failed (EINVAL for a file that is not a regular file).
int SecureEraseOpenFile(int fd);

// Copies `count` bytes (0: the whole file) from `start` of source into a new
// target, then SecureErase on the source. Returns 1 on success, 0 when either
// file could not be opened (a line naming it goes to standard output) or the
// copy failed.
int moveFileBytes(const std::filesystem::path& source, const std::filesystem::path& target,
                  std::uint32_t start, std::uint32_t count);

// The file's size, 0 when its status cannot be read.
std::uint64_t fileSize(const std::filesystem::path& path);

} // namespace quorvane
