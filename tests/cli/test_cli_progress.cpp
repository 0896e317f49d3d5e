// The progress line as a terminal shows it: its figures, and when it is drawn.

#include "cli/ProgressLine.h"

#include <gtest/gtest.h>

#include <sstream>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

TEST(ProgressLine, FiguresGivePercentSpeedAndTimeLeft) {
    struct Row {
        std::uint64_t done, total;
        ProgressClock::duration elapsed;
        const char* figures;
    };
    for (const Row& row : std::initializer_list<Row>{
             {5'000'000, 20'000'000, 2s, "25% 5000000/20000000 bytes 2.5 MB/s 0:06 left"},
             {20'000'000, 20'000'000, 4s, "100% 20000000/20000000 bytes 5.0 MB/s"},
             {1, 3, 1s, "33% 1/3 bytes 0.0 MB/s 0:02 left"},
             {0, 100, 1s, "0% 0/100 bytes -- MB/s"},
             {1'000'000, 4'000'000'000, 1s, "0% 1000000/4000000000 bytes 1.0 MB/s 1:06:39 left"},
         })
        EXPECT_EQ(progressFigures(row.done, row.total, row.elapsed), row.figures) << row.done;
}

TEST(ProgressLine, OnlyAStepOfHalfASecondOrMoreIsDrawn) {
    std::ostringstream out;
    ProgressClock::time_point now{};
    ProgressLine line(out, [&] { return now; });
    const auto at = [&](ProgressClock::duration since, std::uint64_t done, std::uint64_t total) {
        now += since;
        line.update(done, total);
    };

    line.start("Creating...");
    at(0ms, 0, 16);
    at(400ms, 16, 16);
    line.finish();
    EXPECT_EQ(out.str(), "");

    line.start("Adding...");
    at(0ms, 0, 100);
    at(300ms, 10, 100);
    at(300ms, 50, 100); // drawn: half a second in
    at(50ms, 60, 100);  // too soon after the last one
    at(50ms, 100, 100); // the last figure always
    line.finish();
    EXPECT_EQ(out.str(), "\rAdding... 50% 50/100 bytes 0.0 MB/s 0:01 left\033[K"
                         "\rAdding... 100% 100/100 bytes 0.0 MB/s\033[K\n");
}

} // namespace
} // namespace quorvane
