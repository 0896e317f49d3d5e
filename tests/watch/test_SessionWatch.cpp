#include "watch/CloseWatch.h"
#include "watch/SessionWatch.h"

#include "tests/support/SessionBuses.h"

#include <gtest/gtest.h>

#include <chrono>
#include <poll.h>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

// The first reason the watch reports within a few seconds, if any.
std::optional<CloseReason> awaitReason(SessionWatch& watch,
                                       std::chrono::milliseconds longest = 5s) {
    const auto until = std::chrono::steady_clock::now() + longest;
    while (std::chrono::steady_clock::now() < until) {
        pollfd wait{watch.fd(), POLLIN, 0};
        ::poll(&wait, 1, 100);
        const auto reasons = watch.takeReasons();
        if (!reasons.empty())
            return reasons.front();
    }
    return std::nullopt;
}

class SessionWatchTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        buses_ = new test::SessionBuses;
        ASSERT_TRUE(buses_->started()) << "python3-dbusmock and dbus-daemon are needed";
        buses_->useInThisProcess();
        ASSERT_EQ(buses_->send("session c7"), "ok");
    }
    static void TearDownTestSuite() {
        delete buses_;
        buses_ = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(buses_, nullptr);
        ::setenv("XDG_SESSION_ID", "c7", 1);
    }
    static test::SessionBuses* buses_;
};

test::SessionBuses* SessionWatchTest::buses_ = nullptr;

TEST_F(SessionWatchTest, EachEventOfTheSessionIsAReasonToClose) {
    struct Case {
        const char* command;
        std::optional<CloseReason> reason;
    };
    const Case cases[] = {
        {"lock", CloseReason::ScreenLocked},
        {"sleep true", CloseReason::Sleep},
        {"sleep false", std::nullopt}, // waking up closes nothing
        {"shutdown true", CloseReason::Shutdown},
        {"removed", CloseReason::SessionEnded},
        {"screensaver org.gnome.ScreenSaver", CloseReason::ScreenLocked},
        {"screensaver org.freedesktop.ScreenSaver", CloseReason::ScreenLocked},
        {"screensaver org.mate.ScreenSaver", CloseReason::ScreenLocked},
    };
    SessionWatch watch({});
    ASSERT_GE(watch.fd(), 0);
    for (const Case& c : cases) {
        ASSERT_EQ(buses_->send(c.command), "ok") << c.command;
        EXPECT_EQ(awaitReason(watch, c.reason ? 5s : 500ms), c.reason) << c.command;
    }
}

TEST_F(SessionWatchTest, WithoutXdgSessionIdTheSessionComesFromLogindByProcess) {
    ::unsetenv("XDG_SESSION_ID");
    SessionWatch watch({});
    EXPECT_NE(watch.describe().find("logind session c7"), std::string::npos) << watch.describe();
    ASSERT_EQ(buses_->send("lock"), "ok");
    EXPECT_EQ(awaitReason(watch), CloseReason::ScreenLocked);
}

TEST_F(SessionWatchTest, TheSleepDelayIsHeldUntilReleased) {
    SessionWatch watch({});
    EXPECT_EQ(buses_->send("inhibitors"), "ok ");
    watch.holdSleepDelay();
    watch.holdSleepDelay(); // once is enough
    EXPECT_TRUE(watch.holdsSleepDelay());
    EXPECT_EQ(buses_->send("inhibitors"), "ok sleep/delay/Quorvane");
    watch.releaseSleepDelay();
    EXPECT_FALSE(watch.holdsSleepDelay());
    // logind notices the closed descriptor on its own loop.
    std::string held = "?";
    for (int tries = 0; tries < 50 && held != "ok "; ++tries) {
        held = buses_->send("inhibitors");
        ::usleep(50'000);
    }
    EXPECT_EQ(held, "ok ");
}

TEST_F(SessionWatchTest, SourcesTurnedOffAreNotListenedTo) {
    SessionWatch watch({.screenLock = false, .sleep = false});
    watch.holdSleepDelay();
    EXPECT_FALSE(watch.holdsSleepDelay()) << "no delay without closing on sleep";
    for (const char* command : {"lock", "sleep true", "screensaver org.gnome.ScreenSaver"}) {
        ASSERT_EQ(buses_->send(command), "ok");
        EXPECT_EQ(awaitReason(watch, 500ms), std::nullopt) << command;
    }
    ASSERT_EQ(buses_->send("shutdown true"), "ok");
    EXPECT_EQ(awaitReason(watch), CloseReason::Shutdown) << "shutdown always closes";
    EXPECT_NE(watch.describe().find("screen lock: not asked for"), std::string::npos);
}

TEST_F(SessionWatchTest, TheCombinedWatchSaysItsSourcesAndCountsIdleness) {
    IdleTimer::Clock::time_point now{};
    CloseSettings settings;
    settings.idle = 2min;
    ASSERT_EQ(buses_->send("screensaver org.gnome.ScreenSaver"), "ok");
    CloseWatch watch(settings, [&now] { return now; });
    const std::string sources = watch.describe();
    EXPECT_EQ(sources.rfind("closes the safe on screen lock: ", 0), 0u) << sources;
    EXPECT_NE(sources.find("org.gnome.ScreenSaver"), std::string::npos) << sources;
    EXPECT_NE(sources.find(", logind session c7; sleep: logind; shutdown and log-out: logind; "
                           "idle: 120 s"),
              std::string::npos)
        << sources;
    EXPECT_EQ(watch.timeoutMilliseconds(), 120'000);
    now += 1min;
    watch.noteUse();
    now += 119s;
    EXPECT_EQ(watch.check(), std::nullopt);
    EXPECT_EQ(watch.timeoutMilliseconds(), 1000);
    now += 1s;
    EXPECT_EQ(watch.check(), CloseReason::Idle);
}

TEST(SessionWatchWithoutBuses, NothingThereIsNoFailure) {
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/system", 1);
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/session", 1);
    SessionWatch watch({});
    EXPECT_EQ(watch.fd(), -1);
    EXPECT_TRUE(watch.takeReasons().empty());
    watch.holdSleepDelay();
    EXPECT_FALSE(watch.holdsSleepDelay());
    EXPECT_EQ(watch.describe(),
              "closes the safe on screen lock: no source found; sleep: no logind; "
              "shutdown and log-out: no logind; no session bus; no system bus");
}

} // namespace
} // namespace quorvane
