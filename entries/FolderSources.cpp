#include "entries/FolderSources.h"

#include "entries/Messages.h"
#include "storage/files/UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane {

namespace fs = std::filesystem;
namespace text = entries_text;

namespace {

// Adds the regular files below folder to list; false when a folder in it
// could not be listed.
bool walkFolder(const fs::path& folder, SourceList& list) {
    std::error_code error;
    std::vector<fs::path> children;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        children.push_back(it->path());
    if (error) {
        list.unlistedFolder = folder.string();
        list.unlistedWhy = error.message();
        return false;
    }
    std::sort(children.begin(), children.end());
    for (const fs::path& child : children) {
        // Of the name itself: a link is never followed, into a folder or a file.
        const fs::file_status status = fs::symlink_status(child, error);
        if (error) {
            list.unlistedFolder = child.string();
            list.unlistedWhy = error.message();
            return false;
        }
        if (fs::is_directory(status)) {
            list.folders.push_back(child.string());
            if (!walkFolder(child, list))
                return false;
        } else if (fs::is_symlink(status)) {
            list.passedOver.push_back({child.string(), text::PassedOverLink});
        } else if (!fs::is_regular_file(status)) {
            list.passedOver.push_back({child.string(), text::PassedOverNotRegular});
        } else if (fs::file_size(child, error) == 0 && !error) {
            list.passedOver.push_back({child.string(), text::PassedOverEmpty});
        } else {
            list.files.push_back(child.string());
        }
    }
    return true;
}

} // namespace

SourceList expandSources(const std::vector<std::string>& paths) {
    SourceList list;
    for (const std::string& path : paths) {
        std::error_code error;
        if (!fs::is_directory(path, error)) {
            list.files.push_back(path);
            continue;
        }
        list.folders.push_back(path);
        if (!walkFolder(path, list))
            return list;
    }
    return list;
}

std::string sourceProblem(const std::string& path, std::uint64_t& size) {
    size = 0;
    // O_NONBLOCK: a FIFO given by name must not hold the add up.
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd)
        return std::strerror(errno);
    struct stat status {};
    const bool measured = ::fstat(fd.get(), &status) == 0;
    const int statError = errno;
    if (!measured)
        return std::strerror(statError);
    if (S_ISDIR(status.st_mode))
        return std::strerror(EISDIR);
    if (!S_ISREG(status.st_mode))
        return text::PassedOverNotRegular;
    if (status.st_size == 0)
        return text::PassedOverEmpty;
    size = static_cast<std::uint64_t>(status.st_size);
    return "";
}

} // namespace quorvane
