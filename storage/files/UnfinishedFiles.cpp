#include "storage/files/UnfinishedFiles.h"

#include "storage/files/FileIdentity.h"
#include "storage/files/UniqueFd.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <pthread.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
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

constexpr const char* NotePrefix = "unfinished-";
// A note is a few lines; anything longer is not one of ours.
constexpr std::size_t NoteBytes = 8192;

std::atomic<int> notesFolder{-1};
std::atomic<unsigned> notesWritten{0};

bool writeAll(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return false;
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

std::string readNote(int folder, const std::string& noteName) {
    const UniqueFd note(
        ::openat(folder, noteName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    std::string text(NoteBytes, '\0');
    const ssize_t got = note ? ::read(note.get(), text.data(), text.size()) : -1;
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return text;
}

// The file a note names: "device inode", the name and the folder's path,
// one to a line (the path last, as it may hold any byte but NUL).
struct NotedFile {
    unsigned long long device = 0;
    unsigned long long inode = 0;
    std::string name;
    std::string folder;
};

bool parseNote(const std::string& text, NotedFile& noted) {
    std::istringstream lines(text);
    std::string identity;
    if (!std::getline(lines, identity) || !std::getline(lines, noted.name) ||
        !std::getline(lines, noted.folder, '\0'))
        return false;
    std::istringstream numbers(identity);
    return static_cast<bool>(numbers >> noted.device >> noted.inode) && !noted.name.empty() &&
           noted.name != "." && noted.name != ".." && noted.name.find('/') == std::string::npos;
}

} // namespace

void keepNotesIn(int folder) {
    int none = -1;
    notesFolder.compare_exchange_strong(none, folder);
}

void stopKeepingNotesIn(int folder) {
    notesFolder.compare_exchange_strong(folder, -1);
}

bool isUnfinishedNote(const std::string& name) {
    return name.starts_with(NotePrefix);
}

void removeNotedFile(int folder, const std::string& noteName) {
    NotedFile noted;
    if (parseNote(readNote(folder, noteName), noted)) {
        const UniqueFd where(::open(noted.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat status {};
        if (where &&
            ::fstatat(where.get(), noted.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(status.st_mode) && status.st_uid == ::geteuid() &&
            status.st_dev == noted.device && status.st_ino == noted.inode)
            ::unlinkat(where.get(), noted.name.c_str(), 0);
    }
    ::unlinkat(folder, noteName.c_str(), 0);
}

// Written before the file has its hidden name (or right after it is made,
// still empty), so that no moment exists in which the file holds bytes
// under that name without a note. Without a notes folder, or where the note
// cannot be written, the file is still made: a signal still removes it.
void UnfinishedFile::writeNote(int fd, int folder, const char* name) {
    const int notes = notesFolder.load();
    struct stat status {};
    std::error_code error;
    const std::filesystem::path where =
        std::filesystem::read_symlink(descriptorPath(folder), error);
    if (notes < 0 || ::fstat(fd, &status) != 0 || error)
        return;
    noteName_ = NotePrefix + std::to_string(::getpid()) + "-" + std::to_string(notesWritten++);
    const std::string text = std::to_string(status.st_dev) + " " + std::to_string(status.st_ino) +
                             "\n" + name + "\n" + where.string();
    UniqueFd note(::openat(notes, noteName_.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!note)
        return;
    noteFolder_ = notes;
    if (!writeAll(note.get(), text) || note.close() != 0)
        removeNote();
}

void UnfinishedFile::removeNote() {
    if (noteFolder_ >= 0)
        ::unlinkat(noteFolder_, noteName_.c_str(), 0);
    noteFolder_ = -1;
}

int UnfinishedFile::create(int folder, const char* name, int flags, mode_t mode) {
    forget();
    const SignalsHeld held;
    const int fd = ::openat(folder, name, flags, mode);
    if (fd < 0)
        return -1;
    writeNote(fd, folder, name);
    slot_ = takeSlot(name);
    if (slot_ >= 0)
        slots[static_cast<std::size_t>(slot_)].folder.store(folder, std::memory_order_release);
    return fd;
}

bool UnfinishedFile::link(int fd, int folder, const char* name) {
    forget();
    const SignalsHeld held;
    writeNote(fd, folder, name);
    if (::linkat(AT_FDCWD, descriptorPath(fd).c_str(), folder, name, AT_SYMLINK_FOLLOW) != 0) {
        const int error = errno;
        removeNote();
        errno = error;
        return false;
    }
    slot_ = takeSlot(name);
    if (slot_ >= 0)
        slots[static_cast<std::size_t>(slot_)].folder.store(folder, std::memory_order_release);
    return true;
}

void UnfinishedFile::forget() {
    removeNote();
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
