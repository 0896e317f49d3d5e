#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace quorvane {

// Overwrites the file's bytes with "ABABABABAB" repeated (whole patterns, so
// the file may grow by up to 9 bytes). Does not delete it. Silent on failure.
void SecureErase(const std::filesystem::path& path);

// Copies `count` bytes (0: the whole file) from `start` of source into a new
// target, then SecureErase on the source. Returns 1 on success, 0 when either
// file could not be opened (a line naming it goes to standard output) or the
// copy failed.
int moveFileBytes(const std::filesystem::path& source, const std::filesystem::path& target,
                  std::uint32_t start, std::uint32_t count);

// The file's size, 0 when its status cannot be read.
std::uint64_t fileSize(const std::filesystem::path& path);

} // namespace quorvane
