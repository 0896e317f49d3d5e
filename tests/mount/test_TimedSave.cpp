// The safe file is written by itself once the folder has been quiet, and not
// more often than the interval allows, on a real mount in this process.

#include "mount/MountedFolder.h"
#include "tests/entries/EntriesFixture.h"

#include <atomic>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <thread>
#include <unistd.h>

namespace quorvane::test {
namespace {

using namespace std::chrono_literals;

class TimedSave : public EntriesTest {
  protected:
    void SetUp() override {
        // Folders are served by programs named quorvane...: another of our
        // programs starting meanwhile (a test run beside this one) sweeps a
        // mount whose server has any other name as dead.
        ::prctl(PR_SET_NAME, "quorvane-test");
        EntriesTest::SetUp();
        const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
        if (fd < 0 || (::geteuid() != 0 && ::access("/usr/bin/fusermount3", X_OK) != 0))
            GTEST_SKIP() << "FUSE is not usable here: the folder cannot be mounted";
        ::close(fd);
        openEmptySafe();
        // The lock of the private folder: other programs starting meanwhile
        // see the mount served.
        lockFd = ::open((workDir / "lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_EQ(::flock(lockFd, LOCK_EX), 0);
        dir = root / "folder";
        std::filesystem::create_directory(dir);
    }

    // Mounts with the given timing, runs act against the folder, unmounts;
    // how many timed saves happened meanwhile.
    int savesDuring(MountSettings settings, const std::function<void()>& act) {
        saves = 0;
        MountedFolder folder(state, lock, settings, [&]() -> std::optional<Failure> {
            ++saves;
            return std::nullopt;
        });
        const std::optional<Failure> notMounted = folder.mount(dir);
        EXPECT_FALSE(notMounted) << notMounted->detail;
        std::thread server([&] { folder.serve(); });
        act();
        folder.stop(false);
        server.join();
        return saves.load();
    }

    void write(const std::string& name) { writeFile(dir / name, "content of " + name); }
    bool waitFor(const std::function<bool()>& done) {
        for (int tries = 0; tries < 500 && !done(); ++tries)
            std::this_thread::sleep_for(10ms);
        return done();
    }

    void TearDown() override {
        if (lockFd >= 0)
            ::close(lockFd);
        EntriesTest::TearDown();
    }

    SessionLock lock;
    int lockFd = -1;
    std::filesystem::path dir;
    // Timed saves so far; a slow machine only makes them come later.
    std::atomic<int> saves{0};
};

TEST_F(TimedSave, AQuietFolderIsSavedOnceAndAnIdleOneNever) {
    struct Case {
        const char* what;
        int writes;
        int expectedSaves;
    };
    for (const Case& test : {Case{"nothing written", 0, 0}, Case{"one burst", 3, 1}}) {
        SCOPED_TRACE(test.what);
        MountSettings settings;
        settings.quietPeriod = 50ms;
        settings.saveInterval = 60s;
        const int timedSaves = savesDuring(settings, [&] {
            for (int i = 0; i < test.writes; ++i)
                write("file" + std::to_string(i));
            // Long enough for a save to come, were one due; one that is due
            // is waited for, however slow the machine.
            std::this_thread::sleep_for(500ms);
            if (test.expectedSaves > 0)
                waitFor([&] { return saves.load() >= test.expectedSaves; });
        });
        EXPECT_EQ(timedSaves, test.expectedSaves);
    }
}

TEST_F(TimedSave, ASecondChangeWithinTheIntervalWaitsForIt) {
    MountSettings settings;
    settings.quietPeriod = 20ms;
    settings.saveInterval = 60s;
    const int timedSaves = savesDuring(settings, [&] {
        write("first");
        ASSERT_TRUE(waitFor([&] { return saves.load() == 1; }));
        write("second"); // quiet again soon, but the minute is not over
        std::this_thread::sleep_for(300ms);
    });
    EXPECT_EQ(timedSaves, 1);
    EXPECT_EQ(state.entryDetails.size(), 2u);
}

// Writes that never let the folder be quiet still get saved: at the latest
// longestUnsaved after the first of them.
TEST_F(TimedSave, SteadyWritesAreSavedWithinTheLongestUnsavedTime) {
    MountSettings settings;
    settings.quietPeriod = 10s; // never reached while writing
    settings.saveInterval = 100ms;
    settings.longestUnsaved = 300ms;
    const int timedSaves = savesDuring(settings, [&] {
        const auto until = std::chrono::steady_clock::now() + 1500ms;
        for (int i = 0; std::chrono::steady_clock::now() < until; ++i) {
            write("steady" + std::to_string(i));
            std::this_thread::sleep_for(50ms);
        }
    });
    EXPECT_GE(timedSaves, 1) << "saved while the writes went on";
}

} // namespace
} // namespace quorvane::test
