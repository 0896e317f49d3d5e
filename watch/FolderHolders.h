#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace quorvane {

// A file in a folder that a program has open, as /proc shows it.
struct HeldFile {
    std::string name; // the path below the folder
    std::string program;
    pid_t pid = 0;
};

// Every program's open files under dir (its own descriptors, as /proc/PID/fd
// links them; nothing inside dir is touched, so a folder that hangs cannot
// hang the look). Processes that may not be looked at are left out.
std::vector<HeldFile> filesHeldUnder(const std::filesystem::path& dir);

// "notes.txt (vim, process 4711), ..." for the user.
std::string describeHeldFiles(const std::vector<HeldFile>& held);

} // namespace quorvane
