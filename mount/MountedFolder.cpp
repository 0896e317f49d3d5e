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

// The files that could not be stored are tried again while the folder has
// changed since the last save (a save would need them), when one failed just
// now, and once more at the end: a file that keeps failing is not copied
// again at every request of an idle folder.
void MountedFolder::afterRequest(bool ending) {
    std::vector<std::pair<std::string, int>> failures;
    bool changed = false;
    bool saveFailed = false;
    std::string reason;
    {
        std::lock_guard hold(lock_);
        failures = folder_.takeStoreFailures();
        if (ending || !failures.empty() || folder_.changed())
            folder_.storeClosedFiles();
        for (auto& failure : folder_.takeStoreFailures())
            failures.push_back(std::move(failure));
        openFiles_.store(folder_.openHandles());
        changed = folder_.changeCount() != changesSeen_;
        changesSeen_ = folder_.changeCount();
        saveFailed = !ending && saveIfDue(reason);
    }
    if (changed && onChange)
        onChange();
    for (const auto& [name, error] : failures)
        if (onStoreFailed)
            onStoreFailed(name, std::strerror(error));
    // Told once, until a save succeeds again.
    if (saveFailed && !saveFailedLast_ && onSaveFailed)
        onSaveFailed(reason);
    if (saveFailed)
        saveFailedLast_ = true;
}

// Under the lock; true when a save was due and failed.
bool MountedFolder::saveIfDue(std::string& reason) {
    const auto now = std::chrono::steady_clock::now();
    if (!folder_.changed() || now < folder_.lastWrite() + settings_.quietPeriod ||
        now < lastSave_ + settings_.saveInterval)
        return false;
    lastSave_ = now;
    if (!save_(reason))
        return true;
    folder_.markSaved();
    saveFailedLast_ = false;
    return false;
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
            fuse_session_process_buf(session, &buffer);
        }
        afterRequest(false);
    }
    std::free(buffer.mem);
    // What was closed but not stored gets a last try before the final save.
    afterRequest(true);
    if (mounted_) {
        fuse_unmount(fuse_);
        mounted_ = false;
    }
}

} // namespace quorvane
