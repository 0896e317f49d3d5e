#include "storage/files/FileIdentity.h"

#include "storage/files/UniqueFd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace quorvane {

namespace {

FileIdentity identityFrom(const struct stat& status) {
    FileIdentity identity;
    identity.device = status.st_dev;
    identity.inode = status.st_ino;
    identity.size = static_cast<std::uint64_t>(status.st_size);
    identity.modifiedSeconds = status.st_mtim.tv_sec;
    identity.modifiedNanoseconds = status.st_mtim.tv_nsec;
    identity.changedSeconds = status.st_ctim.tv_sec;
    identity.changedNanoseconds = status.st_ctim.tv_nsec;
    return identity;
}

// The extended attributes' names and values, as the system lists them;
// through the descriptor's path, which also serves a descriptor of O_PATH.
std::string attributesOf(int fd) {
    const std::string path = descriptorPath(fd).string();
    const ssize_t listed = ::listxattr(path.c_str(), nullptr, 0);
    if (listed <= 0)
        return {};
    std::vector<char> names(static_cast<std::size_t>(listed));
    const ssize_t got = ::listxattr(path.c_str(), names.data(), names.size());
    std::string all;
    for (ssize_t at = 0; at < got;) {
        const std::string name(names.data() + at);
        at += static_cast<ssize_t>(name.size()) + 1;
        const ssize_t size = ::getxattr(path.c_str(), name.c_str(), nullptr, 0);
        std::string value(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
        if (!value.empty() &&
            ::getxattr(path.c_str(), name.c_str(), value.data(), value.size()) < 0)
            value.clear();
        all.append(name).append(1, '=').append(value).append(1, '\n');
    }
    return all;
}

} // namespace

// Where the file now is, as the kernel names the descriptor's file: a
// rename of the file (mv) moves its change time and changes this.
std::string placeOf(int fd) {
    std::error_code error;
    return std::filesystem::read_symlink(descriptorPath(fd), error).string();
}

std::string metadataOf(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return {};
    return std::to_string(status.st_mode) + ' ' + std::to_string(status.st_uid) + ' ' +
           std::to_string(status.st_gid) + ' ' + std::to_string(status.st_nlink) + '\n' +
           placeOf(fd) + '\n' + attributesOf(fd);
}

std::optional<FileIdentity> identityOf(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return std::nullopt;
    FileIdentity identity = identityFrom(status);
    identity.metadata = metadataOf(fd);
    return identity;
}

std::optional<FileIdentity> identityAt(const std::filesystem::path& path) {
    // A descriptor of O_PATH only: nothing is read or held.
    const UniqueFd fd(::open(path.c_str(), O_PATH | O_CLOEXEC));
    if (!fd)
        return std::nullopt;
    return identityOf(fd.get());
}

std::filesystem::path descriptorPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

} // namespace quorvane
