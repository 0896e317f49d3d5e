#include "lifecycle/WorkingDirectory.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>
#include <unistd.h>

namespace quorvane {

WorkingDirectory::WorkingDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quorvane-XXXXXX").string();
    // mkdtemp makes the directory with mode 0700: no other user can look in.
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::system_error(errno, std::generic_category(), "cannot create working directory");
    path_ = pattern;
}

WorkingDirectory::~WorkingDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

} // namespace quorvane
