// While the window's command waits for the user (a question, a picker that
// may look into the folder itself), the folder answers at once instead of
// waiting for the command: what only reads is served, a store waits for the
// command's end, and what would change the entries under it is refused.
// Once the command is done, what it changed reaches the kernel, which keeps
// names and attributes for a moment.

#include "entries/Entries.h"
#include "mount/MountedFolder.h"
#include "mount/SessionLock.h"
#include "tests/entries/EntriesFixture.h"
#include "tests/support/SafeBytes.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace quorvane::test {
namespace {

using namespace std::chrono_literals;
using Turn = SessionLock::Turn;

// The lock's rules, each seen from a second thread as the folder's is.
TEST(SessionLock, AGuestComesInOnlyWhileTheHolderWaitsForTheUser) {
    struct Case {
        const char* what;
        bool held;
        bool parked;
        bool nested; // the holder runs a nested command while parked
        Turn turn;
    };
    const Case cases[] = {
        {"free", false, false, false, Turn::Held},
        {"held by a command", true, false, false, Turn::None},
        {"held, the command asking", true, true, false, Turn::Guest},
        {"held, asking, a nested command running", true, true, true, Turn::None},
    };
    for (const Case& c : cases) {
        SessionLock lock;
        std::promise<void> ready;
        std::promise<void> done;
        std::thread holder([&] {
            if (c.held)
                lock.lock();
            const unsigned before = c.parked ? lock.park() : 0;
            if (c.nested)
                lock.lock();
            ready.set_value();
            done.get_future().wait();
            if (c.nested)
                lock.unlock();
            if (c.parked)
                lock.unpark(before);
            if (c.held)
                lock.unlock();
        });
        ready.get_future().wait();
        const Turn turn = lock.takeTurn(50ms);
        EXPECT_EQ(turn, c.turn) << c.what;
        lock.endTurn(turn);
        done.set_value();
        holder.join();
    }
}

// The command goes on only once the guest's request is done.
TEST(SessionLock, TheAnswerWaitsForTheGuestsRequest) {
    SessionLock lock;
    std::atomic<bool> guestDone{false};
    std::atomic<bool> resumedBeforeGuestEnded{false};
    std::promise<void> parked;
    std::promise<void> guestIn;
    std::thread holder([&] {
        lock.lock();
        const unsigned before = lock.park();
        parked.set_value();
        guestIn.get_future().wait();
        lock.unpark(before);
        resumedBeforeGuestEnded = !guestDone.load();
        lock.unlock();
    });
    parked.get_future().wait();
    const Turn turn = lock.takeTurn(1s);
    ASSERT_EQ(turn, Turn::Guest);
    guestIn.set_value();
    std::this_thread::sleep_for(100ms); // the holder is waiting in unpark meanwhile
    guestDone = true;
    lock.endTurn(turn);
    holder.join();
    EXPECT_FALSE(resumedBeforeGuestEnded.load());
}

class FolderWhileAsking : public EntriesTest {
  protected:
    void SetUp() override {
        EntriesTest::SetUp();
        const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
        if (fd < 0 || (::geteuid() != 0 && ::access("/usr/bin/fusermount3", X_OK) != 0))
            GTEST_SKIP() << "FUSE is not usable here: the folder cannot be mounted";
        ::close(fd);
        openContainer(containerBytes({{"a.txt", "alpha"}, {"b.txt", "bravo"}}));
        // The lock of the private folder: other programs starting meanwhile
        // see the mount served.
        lockFd = ::open((workDir / "lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_EQ(::flock(lockFd, LOCK_EX), 0);
        dir = root / "folder";
        std::filesystem::create_directory(dir);
    }
    void TearDown() override {
        if (lockFd >= 0)
            ::close(lockFd);
        EntriesTest::TearDown();
    }

    // Without the lock only while no request is under way (this thread
    // makes them all).
    std::vector<std::string> storedNames(bool underLock = true) {
        std::unique_lock hold(lock, std::defer_lock);
        if (underLock)
            hold.lock();
        std::vector<std::string> names;
        for (const EntryDetail& detail : state.entryDetails)
            names.push_back(detail.name);
        return names;
    }

    SessionLock lock;
    int lockFd = -1;
    std::filesystem::path dir;
};

// The window holds the lock for a command that now asks the user; the
// folder's requests meanwhile, as a program in the folder (or the picker
// looking into it) makes them.
TEST_F(FolderWhileAsking, RequestsAreAnsweredAtOnceAndAStoreFollowsTheAnswer) {
    MountedFolder folder(state, lock, MountSettings{}, [] { return std::optional<Failure>(); });
    const std::optional<Failure> notMounted = folder.mount(dir);
    ASSERT_FALSE(notMounted) << notMounted->detail;
    std::thread server([&] { folder.serve(); });

    std::promise<void> asking;
    std::promise<void> answered;
    std::thread window([&] {
        const std::lock_guard command(lock);
        const SessionLock::Parked question(&lock);
        asking.set_value();
        answered.get_future().wait();
    });
    asking.get_future().wait();

    // Each of these would wait for the command (and fail after the bound)
    // if the folder waited for the lock.
    EXPECT_EQ(folderListing(dir), (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(readFile(dir / "a.txt"), "alpha");
    writeFile(dir / "new.txt", "written while the window asks");
    EXPECT_EQ(readFile(dir / "new.txt"), "written while the window asks");
    struct Refused {
        const char* what;
        std::function<int()> call;
    };
    const Refused refusals[] = {
        {"rename", [&] { return std::rename((dir / "a.txt").c_str(), (dir / "c.txt").c_str()); }},
        {"unlink", [&] { return ::unlink((dir / "b.txt").c_str()); }},
    };
    for (const Refused& refused : refusals) {
        errno = 0;
        EXPECT_EQ(refused.call(), -1) << refused.what;
        EXPECT_EQ(errno, EBUSY) << refused.what;
    }
    EXPECT_EQ(storedNames(false), (std::vector<std::string>{"a.txt", "b.txt"}))
        << "the entries stay as the command left them";

    answered.set_value();
    window.join();
    // Stored by the serving loop once the command has ended.
    for (int tries = 0; tries < 500 && storedNames().size() < 3; ++tries)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(storedNames(), (std::vector<std::string>{"a.txt", "b.txt", "new.txt"}));
    EXPECT_EQ(std::rename((dir / "a.txt").c_str(), (dir / "c.txt").c_str()), 0);
    EXPECT_EQ(folderListing(dir), (std::vector<std::string>{"b.txt", "c.txt", "new.txt"}));
    folder.stop(true);
    server.join();
}

// The kernel holds b.txt and a.txt from before the window's command; the
// command removes one and adds c.txt. The new name is found at once, and
// once the notices are out the removed one is gone as a name too: a file
// made under it is created, not opened as the old entry it stood for.
TEST_F(FolderWhileAsking, TheWindowsChangeReachesTheNamesTheKernelKeeps) {
    MountedFolder folder(state, lock, MountSettings{}, [] { return std::optional<Failure>(); });
    const std::optional<Failure> notMounted = folder.mount(dir);
    ASSERT_FALSE(notMounted) << notMounted->detail;
    std::thread server([&] { folder.serve(); });
    struct stat status {};
    ASSERT_EQ(::stat((dir / "b.txt").c_str(), &status), 0);
    EXPECT_EQ(readFile(dir / "a.txt"), "alpha");
    EXPECT_NE(::stat((dir / "c.txt").c_str(), &status), 0);
    {
        const std::lock_guard command(lock);
        shell.focused = 1;
        shell.yesNoAnswers.push_back(false); // the dropped file is not erased
        deleteFile(session);
        addDroppedFiles(session, {source("c.txt", "charlie").string()});
        folder.entriesChangedOutside();
    }
    EXPECT_EQ(readFile(dir / "c.txt"), "charlie");
    for (int tries = 0; tries < 1000 && ::stat((dir / "b.txt").c_str(), &status) == 0; ++tries)
        std::this_thread::sleep_for(5ms);
    EXPECT_NE(::stat((dir / "b.txt").c_str(), &status), 0);
    // The notices of the window's change go out from a thread of their own
    // and may still be on their way: a create that meets the one for its
    // name is refused with ENOENT (a race of the folder not mended yet), so
    // the create is tried again for a moment.
    int fd = -1;
    for (int tries = 0; tries < 100; ++tries) {
        fd = ::open((dir / "b.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd >= 0 || errno != ENOENT)
            break;
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_GE(fd, 0) << std::strerror(errno);
    EXPECT_EQ(::write(fd, "made anew", 9), 9);
    EXPECT_EQ(::close(fd), 0);
    EXPECT_EQ(readFile(dir / "b.txt"), "made anew");
    EXPECT_EQ(readFile(dir / "a.txt"), "alpha");
    folder.stop(true);
    server.join();
}

} // namespace
} // namespace quorvane::test
