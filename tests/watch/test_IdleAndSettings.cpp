#include "watch/CloseSettings.h"
#include "watch/IdleTimer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using Clock = IdleTimer::Clock;

struct MovedClock {
    Clock::time_point now{};
    IdleTimer::Now reader() {
        return [this] { return now; };
    }
};

TEST(IdleTimer, ExpiresOnlyAfterTheLimitWithoutUse) {
    MovedClock clock;
    IdleTimer timer(clock.reader());
    timer.setLimit(10min);
    clock.now += 9min + 59s;
    EXPECT_FALSE(timer.expired());
    EXPECT_EQ(timer.remaining(), 1s);
    timer.noteUse(); // use starts the count again
    clock.now += 9min + 59s;
    EXPECT_FALSE(timer.expired());
    clock.now += 1s;
    EXPECT_TRUE(timer.expired());
    EXPECT_EQ(timer.remaining(), 0ms);
    clock.now += 1h;
    EXPECT_EQ(timer.remaining(), 0ms) << "never negative";
}

TEST(IdleTimer, WithoutALimitNeverExpiresAndANewLimitCountsFromNow) {
    MovedClock clock;
    IdleTimer timer(clock.reader());
    timer.setLimit(std::nullopt);
    clock.now += 1000h;
    EXPECT_FALSE(timer.expired());
    EXPECT_EQ(timer.remaining(), std::nullopt);
    timer.setLimit(90s);
    EXPECT_EQ(timer.remaining(), 90s);
    clock.now += 500us; // not a whole millisecond: still time left
    EXPECT_FALSE(timer.expired());
}

TEST(CloseSettings, FileValuesOverrideTheDefaultsAndBadValuesKeepThem) {
    struct Case {
        const char* text;
        bool onScreenLock;
        bool onSleep;
        std::optional<std::chrono::milliseconds> idle;
        std::chrono::milliseconds grace;
    };
    const Case cases[] = {
        {"", true, true, 10min, 30s},
        {"[Closing]\nOnScreenLock=false\nOnSleep=false\nIdleMinutes=0\nGraceSeconds=5\n", false,
         false, std::nullopt, 5s},
        {"[Closing]\r\nIdleMinutes = 25\r\n", true, true, 25min, 30s},
        // Another group's keys, unreadable values and a negative number change nothing.
        {"[Other]\nOnSleep=false\n[Closing]\nOnScreenLock=yes\nIdleMinutes=ten\nGraceSeconds=-3\n",
         true, true, 10min, 30s},
        {"[Closing]\nIdleMinutes=7x\nGraceSeconds=99999999999999999999\n", true, true, 10min, 30s},
    };
    for (const Case& c : cases) {
        const CloseSettings settings = parseCloseSettings(c.text);
        EXPECT_EQ(settings.onScreenLock, c.onScreenLock) << c.text;
        EXPECT_EQ(settings.onSleep, c.onSleep) << c.text;
        EXPECT_EQ(settings.idle, c.idle) << c.text;
        EXPECT_EQ(settings.grace, c.grace) << c.text;
    }
}

TEST(CloseSettings, ReadsTheFileUnderTheConfigFolder) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("quorvane-settings-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder / "quorvane");
    ::setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    EXPECT_EQ(settingsFilePath(), folder / "quorvane" / "quorvane.conf");
    EXPECT_EQ(readCloseSettings(settingsFilePath()).grace, 30s) << "no file: the defaults";
    std::ofstream(settingsFilePath()) << "[Closing]\nGraceSeconds=12\n";
    EXPECT_EQ(readCloseSettings(settingsFilePath()).grace, 12s);
    ::setenv("XDG_CONFIG_HOME", "relative", 1); // a relative one is ignored, as XDG asks
    ::setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(settingsFilePath(), "/home/someone/.config/quorvane/quorvane.conf");
    std::filesystem::remove_all(folder);
}

TEST(CloseSettings, DurationsTakeAUnitOrOff) {
    struct Case {
        const char* text;
        bool ok;
        std::optional<std::chrono::milliseconds> duration;
    };
    const Case cases[] = {
        {"90s", true, 90s},
        {"10m", true, 10min},
        {"2h", true, 2h},
        {"off", true, std::nullopt},
        {"0s", true, 0s},
        {"10", false, {}},
        {"m", false, {}},
        {"-5m", false, {}},
        {"5 m", false, {}},
        {"1d", false, {}},
        {"", false, {}},
        {"OFF", false, {}},
        {"99999999999999999999s", false, {}},
    };
    for (const Case& c : cases) {
        std::optional<std::chrono::milliseconds> duration = 1234ms;
        EXPECT_EQ(parseDuration(c.text, duration), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(duration, c.duration) << c.text;
        }
    }
}

} // namespace
} // namespace quorvane
