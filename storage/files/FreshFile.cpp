#include "storage/files/FreshFile.h"

#include "storage/files/FileIdentity.h"

#include <cerrno>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

namespace quorvane {

namespace {

// A new name is worth trying only when the last one was taken.
constexpr int NameAttempts = 100;

} // namespace

FreshFile::FreshFile(int folder, std::function<std::string()> hiddenName)
    : folder_(folder), makeName_(std::move(hiddenName)) {}

int FreshFile::underHiddenName(const std::function<bool(const char*)>& attempt) {
    for (int tries = 0; tries < NameAttempts; ++tries) {
        const std::string name = makeName_();
        if (attempt(name.c_str())) {
            hiddenName_ = name;
            return 0;
        }
        if (errno != EEXIST)
            return errno;
    }
    return EEXIST;
}

int FreshFile::make(int accessMode) {
    // 0600 while the content goes in: whoever finishes the file sets its mode.
    fd_.reset(::openat(folder_, ".", O_TMPFILE | accessMode | O_CLOEXEC, 0600));
    if (fd_)
        return 0;
    // A file system without unnamed files (EOPNOTSUPP, EISDIR from kernels
    // that predate them) takes a hidden one; any other reason shows again.
    return underHiddenName([&](const char* name) {
        fd_.reset(note_.create(folder_, name,
                               accessMode | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        return fd_.valid();
    });
}

int FreshFile::nameHidden() {
    if (!hiddenName_.empty())
        return 0;
    return underHiddenName([&](const char* name) { return note_.link(fd_.get(), folder_, name); });
}

int FreshFile::linkAs(const std::string& name) {
    if (!hiddenName_.empty())
        return renameTo(name, true);
    if (::linkat(AT_FDCWD, descriptorPath(fd_.get()).c_str(), folder_, name.c_str(),
                 AT_SYMLINK_FOLLOW) != 0)
        return errno;
    commit();
    return 0;
}

int FreshFile::renameTo(const std::string& name, bool noReplace) {
    if (const int error = nameHidden(); error != 0)
        return error;
    int result = ::renameat2(folder_, hiddenName_.c_str(), folder_, name.c_str(),
                             noReplace ? RENAME_NOREPLACE : 0);
    if (result != 0 && noReplace && (errno == EINVAL || errno == ENOSYS)) {
        // A file system without RENAME_NOREPLACE: a new link fails as well
        // when the name is taken.
        result = ::linkat(folder_, hiddenName_.c_str(), folder_, name.c_str(), 0);
        if (result == 0)
            ::unlinkat(folder_, hiddenName_.c_str(), 0);
    }
    if (result != 0)
        return errno;
    commit();
    return 0;
}

void FreshFile::commit() {
    committed_ = true;
    hiddenName_.clear();
    note_.forget();
}

void FreshFile::discard() {
    if (!committed_ && !hiddenName_.empty())
        ::unlinkat(folder_, hiddenName_.c_str(), 0);
    hiddenName_.clear();
    note_.forget();
}

} // namespace quorvane
