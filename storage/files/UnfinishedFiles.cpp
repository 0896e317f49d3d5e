#include "storage/files/UnfinishedFiles.h"

#include "storage/files/FileIdentity.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <string>
#include <unistd.h>

namespace quorvane {

namespace {

// One extraction and one save at a time per thread, a few threads: more
// than enough. A file that finds no slot is still written, only not noted.
constexpr std::size_t Slots = 8;
constexpr std::size_t NameBytes = 256;

struct Slot {
    std::atomic<bool> taken{false};
    std::atomic<int> folder{-1}; // set once the name is complete and the file exists
    char name[NameBytes] = {};
};

std::array<Slot, Slots> slots;

int takeSlot(const char* name) {
    if (std::strlen(name) >= NameBytes)
        return -1;
    for (std::size_t i = 0; i < Slots; ++i) {
        bool free = false;
        if (slots[i].taken.compare_exchange_strong(free, true)) {
            std::strcpy(slots[i].name, name);
            return static_cast<int>(i);
        }
    }
    return -1;
}

// Keeps every signal off this thread while it lives, so that the file and
// its note come into being together.
class SignalsHeld {
  public:
    SignalsHeld() {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &before_);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

  private:
    sigset_t before_;
};

} // namespace

int UnfinishedFile::create(int folder, const char* name, int flags, mode_t mode) {
    forget();
    const SignalsHeld held;
    const int fd = ::openat(folder, name, flags, mode);
    if (fd < 0)
        return -1;
    slot_ = takeSlot(name);
    if (slot_ >= 0)
        slots[static_cast<std::size_t>(slot_)].folder.store(folder, std::memory_order_release);
    return fd;
}

bool UnfinishedFile::link(int fd, int folder, const char* name) {
    forget();
    const SignalsHeld held;
    if (::linkat(AT_FDCWD, descriptorPath(fd).c_str(), folder, name, AT_SYMLINK_FOLLOW) != 0)
        return false;
    slot_ = takeSlot(name);
    if (slot_ >= 0)
        slots[static_cast<std::size_t>(slot_)].folder.store(folder, std::memory_order_release);
    return true;
}

void UnfinishedFile::forget() {
    if (slot_ < 0)
        return;
    Slot& slot = slots[static_cast<std::size_t>(slot_)];
    slot.folder.store(-1, std::memory_order_release);
    slot.taken.store(false, std::memory_order_release);
    slot_ = -1;
}

void removeUnfinishedFiles() {
    for (Slot& slot : slots) {
        const int folder = slot.folder.load(std::memory_order_acquire);
        if (folder >= 0)
            ::unlinkat(folder, slot.name, 0);
    }
}

} // namespace quorvane
