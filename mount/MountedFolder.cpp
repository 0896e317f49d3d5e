#include "mount/MountedFolder.h"

#include "mount/FolderOperations.h"

#include "mount/DeadMounts.h"
#include "storage/files/WorkingDirectory.h"
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
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>
#include <vector>

namespace quorvane {

namespace {

// How often the serving loop looks whether its private working folder is
// still there, when nothing else wakes it.
constexpr int StateFolderCheckMs = 5'000;

// fuse's option parser splits at commas: one in a path is escaped.
std::string optionValue(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        if (c == ',' || c == '\\')
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

Failure systemFailure(int error) {
    return Failure{error, std::strerror(error)};
}

} // namespace

MountedFolder::MountedFolder(SafeState& state, SessionLock& lock, MountSettings settings,
                             SaveSafe save)
    : lock_(lock), settings_(settings), save_(std::move(save)), access_(state),
      folder_(access_, settings.readOnly),
      stateFolder_(state.workDir), served_{folder_, lock_, [this] { return saveNow(); },
                                           std::filesystem::path(state.safePath).parent_path()} {
    wakeFd_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (served_.safeFolder.empty())
        served_.safeFolder = ".";
}

MountedFolder::~MountedFolder() {
    if (notices_.joinable())
        notices_.join();
    if (fuse_ != nullptr) {
        if (mounted_)
            fuse_unmount(fuse_);
        fuse_destroy(fuse_);
    }
}

std::optional<Failure> MountedFolder::mount(const std::filesystem::path& dir) {
    if (!wakeFd_)
        return systemFailure(errno);
    std::string options =
        "fsname=" + optionValue(mountSourceName(stateFolder_)) + ",subtype=quorvane";
    if (settings_.readOnly || access_.readOnly())
        options += ",ro";
    std::vector<std::string> words = {"quorvane", "-o", options};
    std::vector<char*> argv;
    argv.reserve(words.size());
    for (std::string& word : words)
        argv.push_back(word.data());
    fuse_args args = FUSE_ARGS_INIT(static_cast<int>(argv.size()), argv.data());
    static const fuse_operations operations = folderOperations();
    fuse_ = fuse_new(&args, &operations, sizeof operations, &served_);
    fuse_opt_free_args(&args);
    if (fuse_ == nullptr)
        return Failure{0, "the folder could not be set up"};
    errno = 0;
    if (fuse_mount(fuse_, dir.c_str()) != 0)
        return errno != 0 ? systemFailure(errno) : Failure{0, "the folder could not be mounted"};
    mounted_ = true;
    return std::nullopt;
}

void MountedFolder::stop(bool force) {
    int wanted = force ? 2 : 1;
    int asked = stopAsked_.load();
    while (asked < wanted && !stopAsked_.compare_exchange_weak(asked, wanted)) {
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto ignored = ::write(wakeFd_.get(), &one, sizeof one);
}

void MountedFolder::entriesChangedOutside() {
    folder_.namesChangedOutside();
    changedOutside_.store(true);
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto ignored = ::write(wakeFd_.get(), &one, sizeof one);
}

// When the next timed save is due: once the folder has been quiet, or a
// minute after its first change that is not in the safe file, whichever
// comes first; never sooner than saveInterval after the last save.
static std::chrono::steady_clock::time_point saveDue(const SafeFolder& folder,
                                                     const MountSettings& settings,
                                                     std::chrono::steady_clock::time_point last) {
    const auto settled = std::min(folder.lastWrite() + settings.quietPeriod,
                                  folder.unsavedSince() + settings.longestUnsaved);
    return std::max(settled, last + settings.saveInterval);
}

int MountedFolder::waitTimeout() const {
    std::unique_lock hold(lock_, std::try_to_lock);
    // The window holds the lock: looked at again soon.
    if (!hold.owns_lock() || !served_.deferredReleases.empty() || changedOutside_.load())
        return 100;
    if (!folder_.changed())
        return StateFolderCheckMs;
    const auto now = std::chrono::steady_clock::now();
    const auto due = saveDue(folder_, settings_, lastSave_);
    if (due <= now)
        return 0;
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count();
    return static_cast<int>(std::min<long long>(wait + 1, StateFolderCheckMs));
}

bool MountedFolder::stateFolderGone() const {
    struct stat status {};
    return !stateFolder_.empty() &&
           ::stat((stateFolder_ / WorkingFolderLock).c_str(), &status) != 0 && errno == ENOENT;
}

// From a thread of its own: the kernel drops a page cache by waiting for the
// pages' locks, and a page is locked while a read of it waits for the
// serving loop. Every name the kernel was given since the last time, and
// every name the folder now shows (a new one may hide behind a folder the
// kernel holds), is told: its attributes and pages, and its entry below the
// top, which takes every cached path below it along.
void MountedFolder::invalidateKernelView() {
    std::vector<std::string> names;
    {
        std::unique_lock hold(lock_, std::try_to_lock);
        // Once the window lets go of the lock, and once the last notices are
        // through (they may wait for a read that this loop has to answer).
        if (!hold.owns_lock() || !noticesDone_.load()) {
            changedOutside_.store(true);
            return;
        }
        names = folder_.allNames();
        names.insert(names.end(), served_.answered.begin(), served_.answered.end());
        served_.answered.clear();
    }
    if (notices_.joinable())
        notices_.join();
    noticesDone_.store(false);
    notices_ = std::thread([this, fuse = fuse_, names = std::move(names)] {
        std::unordered_set<std::string> tops;
        for (const std::string& name : names) {
            fuse_invalidate_path(fuse, ("/" + name).c_str());
            tops.insert(name.substr(0, name.find('/')));
        }
        fuse_session* session = fuse_get_session(fuse);
        for (const std::string& top : tops)
            fuse_lowlevel_notify_inval_entry(session, FUSE_ROOT_ID, top.c_str(), top.size());
        fuse_invalidate_path(fuse, "/");
        noticesDone_.store(true);
    });
}

// The files that could not be stored are tried again while the folder has
// changed since the last save (a save would need them) and once more at the
// end: a file that keeps failing is not copied again at every request of an
// idle folder, nor said twice for one failure.
void MountedFolder::afterRequest(bool ending) {
    std::vector<std::pair<std::string, int>> failures;
    bool changed = false;
    std::optional<Failure> saveFailed;
    bool safeChanged = false;
    {
        // Never waits for the window: what cannot be done now is done at the
        // next turn of the loop (the window's commands are short, its
        // questions are not).
        std::unique_lock hold(lock_, std::defer_lock);
        if (ending)
            hold.lock();
        else if (!hold.try_lock())
            return;
        for (SafeFolder::Handle* handle : std::exchange(served_.deferredReleases, {}))
            folder_.release(handle);
        failures = folder_.takeStoreFailures();
        if (ending || folder_.changed() || folder_.storesDeferred())
            folder_.storeClosedFiles();
        // A file that failed again within this step is said once.
        for (auto& failure : folder_.takeStoreFailures())
            if (std::none_of(failures.begin(), failures.end(),
                             [&](const auto& said) { return said.first == failure.first; }))
                failures.push_back(std::move(failure));
        openFiles_.store(folder_.openHandles());
        safeChanged = access_.noteSafeChanged();
        changed = folder_.changeCount() != changesSeen_;
        changesSeen_ = folder_.changeCount();
        if (!ending)
            saveFailed = saveIfDue();
    }
    if (changed && onChange)
        onChange();
    if (std::exchange(served_.folderRefused, false) && onFolderRefused)
        onFolderRefused();
    if (safeChanged && onSafeChanged)
        onSafeChanged();
    // At the end, whoever closes the folder asks about them (storeRemaining).
    for (const auto& [name, error] : failures)
        if (onStoreFailed && !ending)
            onStoreFailed(name, std::strerror(error));
    // Told once, until a save succeeds again.
    if (saveFailed && !saveFailedLast_ && onSaveFailed)
        onSaveFailed(saveFailed->detail);
    if (saveFailed)
        saveFailedLast_ = true;
}

// Under the lock; why, when a save was due and failed.
std::optional<Failure> MountedFolder::saveIfDue() {
    const auto now = std::chrono::steady_clock::now();
    if (!folder_.changed() || now < saveDue(folder_, settings_, lastSave_))
        return std::nullopt;
    lastSave_ = now;
    if (std::optional<Failure> failed = save_())
        return failed;
    folder_.markSaved();
    saveFailedLast_ = false;
    return std::nullopt;
}

// fsync: the safe file holds what the folder holds when it returns. Under
// the lock.
int MountedFolder::saveNow() {
    if (!folder_.changed())
        return 0;
    if (save_())
        return -EIO;
    lastSave_ = std::chrono::steady_clock::now();
    folder_.markSaved();
    saveFailedLast_ = false;
    return 0;
}

std::vector<std::pair<std::string, int>> MountedFolder::storeRemaining() {
    std::lock_guard hold(lock_);
    folder_.storeClosedFiles();
    return folder_.takeStoreFailures();
}

int MountedFolder::sideTimeout() const {
    const int own = waitTimeout();
    const int side = side_.timeout ? side_.timeout() : -1;
    if (own < 0 || side < 0)
        return std::max(own, side);
    return std::min(own, side);
}

std::optional<Failure> MountedFolder::saveBeforeClosing() {
    std::lock_guard hold(lock_);
    folder_.storeClosedFiles();
    if (!folder_.changed())
        return std::nullopt;
    lastSave_ = std::chrono::steady_clock::now();
    if (std::optional<Failure> failed = save_())
        return failed;
    folder_.markSaved();
    saveFailedLast_ = false;
    return std::nullopt;
}

void MountedFolder::serve() {
    fuse_session* session = fuse_get_session(fuse_);
    fuse_buf buffer{};
    lastSave_ = std::chrono::steady_clock::now() - settings_.saveInterval;
    for (;;) {
        const int asked = stopAsked_.load();
        if (asked == 2 || (asked == 1 && openFiles_.load() == 0))
            break;
        // A side descriptor of -1 is left out by poll itself.
        pollfd waits[3] = {{fuse_session_fd(session), POLLIN, 0},
                           {wakeFd_.get(), POLLIN, 0},
                           {side_.fd, POLLIN, 0}};
        const int ready = ::poll(waits, 3, sideTimeout());
        if (ready < 0 && errno != EINTR)
            break;
        if ((waits[1].revents & POLLIN) != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto ignored = ::read(wakeFd_.get(), &count, sizeof count);
        }
        if (changedOutside_.exchange(false))
            invalidateKernelView();
        if (stateFolderGone()) {
            if (onStateFolderGone)
                onStateFolderGone();
            break;
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
            if (onRequest)
                onRequest();
        }
        afterRequest(false);
        if (side_.wake)
            side_.wake();
    }
    std::free(buffer.mem);
    // What was closed but not stored gets a last try before the final save.
    afterRequest(true);
    if (mounted_) {
        fuse_unmount(fuse_);
        mounted_ = false;
    }
    if (notices_.joinable())
        notices_.join();
}

} // namespace quorvane
