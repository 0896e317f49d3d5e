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

TEST(ProgressLine, CountsAndSizesReadAsAPersonWritesThem) {
    const std::vector<std::pair<std::uint64_t, const char*>> counts = {
        {0, "0"}, {999, "999"}, {1000, "1,000"}, {2345, "2,345"}, {1234567, "1,234,567"}};
    for (const auto& [count, text] : counts)
        EXPECT_EQ(groupedCount(count), text);
    const std::vector<std::pair<std::uint64_t, const char*>> sizes = {{0, "0 B"},
                                                                      {999, "999 B"},
                                                                      {1000, "1.0 kB"},
                                                                      {1499, "1.4 kB"},
                                                                      {640'000'000, "640 MB"},
                                                                      {1'400'000'000, "1.4 GB"},
                                                                      {9'999'999'999, "9.9 GB"},
                                                                      {10'000'000'000, "10 GB"},
                                                                      {UINT64_MAX, "18 EB"}};
    for (const auto& [bytes, text] : sizes)
        EXPECT_EQ(shortSize(bytes), text) << bytes;
}

TEST(ProgressLine, TheLineOfAWholeAddGivesFileBytesAndTimeLeft) {
    struct Row {
        std::uint64_t number, count, done, total;
        ProgressClock::duration elapsed;
        const char* line;
    };
    for (const Row& row : std::initializer_list<Row>{
             {2345, 5000, 640'000'000, 1'400'000'000, 35s,
              "Adding file 2,345 of 5,000, 640 MB of 1.4 GB, 0:42 left"},
             {1, 5000, 0, 1'400'000'000, 1s, "Adding file 1 of 5,000, 0 B of 1.4 GB"},
             {5000, 5000, 1'400'000'000, 1'400'000'000, 60s,
              "Adding file 5,000 of 5,000, 1.4 GB of 1.4 GB"},
         })
        EXPECT_EQ(batchFigures(row.number, row.count, row.done, row.total, row.elapsed), row.line);
}

// Many files, each well under half a second: one line over them all, drawn
// once the whole add has run half a second, moving on at each file even when
// a small file reports no bytes, and ended once.
TEST(ProgressLine, AnAddOfManyFilesDrawsOneLineFromHalfASecondOn) {
    std::ostringstream out;
    ProgressClock::time_point now{};
    ProgressLine line(out, [&] { return now; });
    const auto file = [&](ProgressClock::duration since, std::uint64_t number) {
        now += since;
        line.startBatchFile(number, 100);
        line.start("Adding File " + std::to_string(number) + " of 3...");
    };
    const auto bytes = [&](ProgressClock::duration since, std::uint64_t done) {
        now += since;
        line.update(done, 100);
    };

    line.startBatch(3, 300);
    file(0ms, 1);
    bytes(300ms, 100); // a file done, but the add is younger than half a second
    file(100ms, 2);
    bytes(200ms, 50); // drawn: 600 ms in
    bytes(50ms, 60);  // too soon after the last one
    bytes(20ms, 100); // a file's end is no reason to draw either
    file(130ms, 3);   // drawn as the third file starts
    bytes(50ms, 100); // the last figure always
    line.endBatch();
    EXPECT_EQ(out.str(), "\rAdding file 2 of 3, 150 B of 300 B, 0:01 left\033[K"
                         "\rAdding file 3 of 3, 200 B of 300 B, 0:01 left\033[K"
                         "\rAdding file 3 of 3, 300 B of 300 B\033[K\n");
}

} // namespace
} // namespace quorvane
