#pragma once

// The working copy is encrypted on disk: tests put a container into it and
// read it back through its stream, as the program does.

#include "storage/workingcopy/WorkingCopyFile.h"

#include <filesystem>
#include <string>

namespace quorvane::test {

// Makes a new working copy at path holding container, left open in file.
void putWorkingCopy(WorkingCopyFile& file, const std::filesystem::path& path,
                    const std::string& container);
// Everything the working copy holds now, pending writes included.
std::string workingCopyContent(WorkingCopyFile& file);

} // namespace quorvane::test
