#include "storage/files/FolderRemoval.h"

#include "storage/files/UniqueFd.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace quorvane {

namespace {

// Deeper than the working folder ever gets (it holds plain files only).
constexpr int MaxDepth = 16;
// The kernel repeats a pass when unlinking shifts entries under the reader.
constexpr int MaxPasses = 8;

bool isDotOrDotDot(const char* name) {
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

bool removeEntry(int parent, const char* name, int depth);

// One sweep over the folder's entries; returns whether it found any.
bool sweep(int folder, int depth) {
    alignas(dirent64) char buffer[4096];
    bool found = false;
    ::lseek(folder, 0, SEEK_SET);
    for (;;) {
        ssize_t got = ::getdents64(folder, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return found;
        for (ssize_t at = 0; at < got;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
            at += entry->d_reclen;
            if (isDotOrDotDot(entry->d_name))
                continue;
            found = true;
            removeEntry(folder, entry->d_name, depth);
        }
    }
}

bool emptyFolder(int folder, int depth) {
    for (int pass = 0; pass < MaxPasses; ++pass)
        if (!sweep(folder, depth))
            return true;
    return false;
}

bool removeEntry(int parent, const char* name, int depth) {
    if (::unlinkat(parent, name, 0) == 0)
        return true;
    if ((errno != EISDIR && errno != EPERM) || depth >= MaxDepth)
        return false;
    {
        const UniqueFd child(
            ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!child)
            return false;
        emptyFolder(child.get(), depth + 1);
    }
    return ::unlinkat(parent, name, AT_REMOVEDIR) == 0;
}

} // namespace

bool removeFolderWithoutAllocating(const char* path) {
    {
        const UniqueFd folder(::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!folder)
            return errno == ENOENT;
        emptyFolder(folder.get(), 0);
    }
    return ::rmdir(path) == 0 || errno == ENOENT;
}

} // namespace quorvane
