#define FUSE_USE_VERSION 35

#include "mount/MountedFolder.h"

#include "mount/FolderOperations.h"

#include "storage/format/ContainerIndex.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fuse.h>
#include <fuse_lowlevel.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace quorvane {

std::string mountSourceName() {
    return "quorvane:" + std::to_string(::getpid());
}

MountedFolder::MountedFolder(SafeState& state, SessionLock& lock, MountSettings settings,
                             SaveSafe save)
    : lock_(lock), settings_(settings), save_(std::move(save)), access_(state),
      folder_(access_, settings.readOnly) {
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

MountedFolder::~MountedFolder() {
    if (fuse_ != nullptr) {
        if (mounted_)
            fuse_unmount(fuse_);
        fuse_destroy(fuse_);
    }
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

bool MountedFolder::mount(const std::filesystem::path& dir, std::string& reason) {
    if (wakeFd_ < 0) {
        reason = std::strerror(errno);
        return false;
    }
    std::string options = "fsname=" + mountSourceName() + ",subtype=quorvane";
    if (settings_.readOnly || access_.readOnly())
        options += ",ro";
    std::vector<std::string> words = {"quorvane", "-o", options};
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    fuse_args args = FUSE_ARGS_INIT(static_cast<int>(argv.size()), argv.data());
    static const fuse_operations operations = folderOperations();
    fuse_ = fuse_new(&args, &operations, sizeof operations, &served_);
    fuse_opt_free_args(&args);
    if (fuse_ == nullptr) {
        reason = "the folder could not be set up";
        return false;
    }
    errno = 0;
    if (fuse_mount(fuse_, dir.c_str()) != 0) {
        reason = errno != 0 ? std::strerror(errno) : "the folder could not be mounted";
        return false;
    }
    mounted_ = true;
    return true;
}

void MountedFolder::stop(bool force) {
    int wanted = force ? 2 : 1;
    int asked = stopAsked_.load();
    while (asked < wanted && !stopAsked_.compare_exchange_weak(asked, wanted)) {
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto ignored = ::write(wakeFd_, &one, sizeof one);
}

int MountedFolder::waitTimeout() const {
    std::lock_guard hold(lock_);
    if (!folder_.changed())
        return -1;
    const auto now = std::chrono::steady_clock::now();
    const auto due =
        std::max(folder_.lastWrite() + settings_.quietPeriod, lastSave_ + settings_.saveInterval);
    if (due <= now)
        return 0;
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count();
    return static_cast<int>(std::min<long long>(wait + 1, 60'000));
}

void MountedFolder::storeClosedFiles() {
    std::lock_guard hold(lock_);
    folder_.storeClosedFiles();
    for (auto& failure : folder_.takeStoreFailures())
        served_.storeFailures.push_back(std::move(failure));
}

void MountedFolder::reportStoreFailures() {
    for (const auto& [name, error] : std::exchange(served_.storeFailures, {}))
        if (onStoreFailed)
            onStoreFailed(name, std::strerror(error));
}

void MountedFolder::saveIfDue() {
    std::string reason;
    {
        std::lock_guard hold(lock_);
        if (!served_.storeFailures.empty() || folder_.changed())
            storeClosedFiles();
        const auto now = std::chrono::steady_clock::now();
        if (!folder_.changed() || now < folder_.lastWrite() + settings_.quietPeriod ||
            now < lastSave_ + settings_.saveInterval)
            return;
        lastSave_ = now;
        if (save_(reason)) {
            folder_.markSaved();
            saveFailedLast_ = false;
            return;
        }
    }
    // Told once, until a save succeeds again.
    if (!saveFailedLast_ && onSaveFailed)
        onSaveFailed(reason);
    saveFailedLast_ = true;
}

void MountedFolder::serve() {
    fuse_session* session = fuse_get_session(fuse_);
    fuse_buf buffer{};
    lastSave_ = std::chrono::steady_clock::now() - settings_.saveInterval;
    for (;;) {
        const int asked = stopAsked_.load();
        if (asked == 2 || (asked == 1 && openFiles_.load() == 0))
            break;
        pollfd waits[2] = {{fuse_session_fd(session), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        const int ready = ::poll(waits, 2, waitTimeout());
        if (ready < 0 && errno != EINTR)
            break;
        if ((waits[1].revents & POLLIN) != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto ignored = ::read(wakeFd_, &count, sizeof count);
        }
        if ((waits[0].revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
            const int received = fuse_session_receive_buf(session, &buffer);
            if (received == -EINTR || received == -EAGAIN)
                continue;
            if (received <= 0 || fuse_session_exited(session) != 0) {
                // Unmounted from outside: nothing left to unmount.
                mounted_ = received < 0 && received != -ENODEV;
                break;
            }
            const unsigned before = changes_.load();
            fuse_session_process_buf(session, &buffer);
            if (changes_.load() != before && onChange)
                onChange();
        }
        saveIfDue();
        reportStoreFailures();
    }
    std::free(buffer.mem);
    // What was closed but not stored gets a last try before the final save.
    storeClosedFiles();
    reportStoreFailures();
    if (mounted_) {
        fuse_unmount(fuse_);
        mounted_ = false;
    }
}

} // namespace quorvane
