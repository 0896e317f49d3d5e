#include "lifecycle/WorkingDirectory.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace quorvane {

bool createPrivateFile(const std::filesystem::path& path) {
    // O_NOFOLLOW: a link planted under the name must not redirect plaintext.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    // An existing file keeps its old mode on open; narrow it as well.
    bool narrowed = ::fchmod(fd, 0600) == 0;
    return ::close(fd) == 0 && narrowed;
}

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
