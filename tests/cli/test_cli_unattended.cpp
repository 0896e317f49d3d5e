// mount SAFE DIR closes by itself: the session's events from mocked logind
// and screen savers on private buses, idleness, files held open at the close,
// and the settings file under the options.

#include "tests/cli/MountFixture.h"
#include "tests/support/SessionBuses.h"

namespace quorvane::clitest {
namespace {

class CliUnattended : public CliMount {
  protected:
    static void SetUpTestSuite() {
        buses_ = new test::SessionBuses;
        if (buses_->started())
            buses_->send("session c3");
    }
    static void TearDownTestSuite() {
        delete buses_;
        buses_ = nullptr;
    }

    void SetUp() override {
        CliMount::SetUp();
        if (IsSkipped())
            return;
        ASSERT_TRUE(buses_->started()) << "python3-dbusmock and dbus-daemon are needed";
        buses_->useInThisProcess();
        ::setenv("XDG_SESSION_ID", "c3", 1);
        // The settings file of the sandbox, not of whoever runs the tests.
        ::setenv("XDG_CONFIG_HOME", box.root().c_str(), 1);
        safe = sealSafe({{"kept.txt", "stored before"}});
    }

    void mount(std::vector<std::string> extra = {}) {
        run = CliMount::mount(safe, folder(), std::move(extra));
    }

    static test::SessionBuses* buses_;
    fs::path safe;
    StartedRun run;
};

test::SessionBuses* CliUnattended::buses_ = nullptr;

TEST_F(CliUnattended, EachEventWritesTheSafeClosesTheFolderAndSaysWhy) {
    struct Case {
        const char* command;
        const char* reason;
    };
    const Case cases[] = {
        {"lock", "the screen was locked"},
        {"screensaver org.gnome.ScreenSaver", "the screen was locked"},
        {"screensaver org.freedesktop.ScreenSaver", "the screen was locked"},
        {"sleep true", "the computer is going to sleep"},
        {"shutdown true", "the computer is shutting down"},
        {"removed", "the session ended"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        mount();
        const std::string written = std::string("written before ") + c.command;
        writeFile(folder() / "new.txt", written);
        EXPECT_EQ(buses_->send("inhibitors"), "ok sleep/delay/Quorvane")
            << "sleep waits while the folder is open";
        ASSERT_EQ(buses_->send(c.command), "ok");
        RunResult result = CliSandbox::finish(run);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_TRUE(
            contains(result.err, std::string("quorvane-cli: the folder was closed: ") + c.reason))
            << result.err;
        EXPECT_FALSE(isMounted(folder()));
        EXPECT_TRUE(fs::is_empty(folder())) << "DIR stays, empty, as the user made it";
        EXPECT_EQ(extracted(safe, "new.txt"), written);
        EXPECT_EQ(extracted(safe, "kept.txt"), "stored before");
        EXPECT_EQ(buses_->send("inhibitors"), "ok ") << "the delay ends with the tool";
    }
}

TEST_F(CliUnattended, AFolderUnusedForTheIdleTimeCloses) {
    mount({"--idle", "2s"});
    // Use keeps it open past the idle time.
    for (int i = 0; i < 4; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        ASSERT_EQ(readFile(folder() / "kept.txt"), "stored before");
    }
    EXPECT_FALSE(ended(run.pid)) << "closed although in use";
    RunResult result = CliSandbox::finish(run);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(contains(result.err, "the folder was closed: the safe was not used for a while"))
        << result.err;
}

TEST_F(CliUnattended, AFileHeldOpenIsWaitedForThenNamedAndTheRestKept) {
    mount({"--grace", "1s", "--idle", "off"});
    writeFile(folder() / "closed.txt", "closed in time");
    const int held = ::open((folder() / "held.txt").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::write(held, "half", 4), 4);
    ASSERT_EQ(buses_->send("lock"), "ok");
    RunResult result = CliSandbox::finish(run);
    ::close(held);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(contains(result.err, "a file in the folder is still open; the folder closes once "
                                     "it is closed, at the latest in 1 s"))
        << result.err;
    const std::string program = readFile("/proc/self/comm").substr(0, 15);
    EXPECT_TRUE(contains(result.err, "held.txt (" + program.substr(0, program.find('\n')) +
                                         ", process " + std::to_string(::getpid()) + ")"))
        << result.err;
    EXPECT_TRUE(contains(result.err, "the folder was closed: the screen was locked"));
    EXPECT_EQ(extracted(safe, "closed.txt"), "closed in time");
}

TEST_F(CliUnattended, TheSettingsFileChoosesAndTheOptionsOverrideIt) {
    fs::create_directories(box.root() / "quorvane");
    writeFile(box.root() / "quorvane" / "quorvane.conf",
              "[Closing]\nOnScreenLock=false\nIdleMinutes=0\nGraceSeconds=1\n");
    mount();
    ASSERT_EQ(buses_->send("lock"), "ok");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_TRUE(served(folder())) << "closing on screen lock is off";
    test::runProgram({"fusermount3", "-u", folder().string()});
    EXPECT_EQ(CliSandbox::finish(run).exitCode, 0);

    mount({"--idle", "1s"}); // over IdleMinutes=0
    RunResult result = CliSandbox::finish(run);
    EXPECT_TRUE(contains(result.err, "the safe was not used for a while")) << result.err;
}

} // namespace
} // namespace quorvane::clitest
