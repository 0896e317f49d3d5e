#pragma once

// The working copy is encrypted on disk: tests put a container into it and
// read it back through its interface, as the program does.

#include "storage/workingcopy/WorkingCopy.h"

#include <filesystem>
#include <memory>
#include <string>

namespace quorvane::test {

// Makes a new working copy (sector file at path) holding container.
void putWorkingCopy(std::unique_ptr<WorkingCopy>& file, const std::filesystem::path& path,
                    const std::string& container);
// Everything the working copy holds now.
std::string workingCopyContent(RandomAccessFile& file);

} // namespace quorvane::test
