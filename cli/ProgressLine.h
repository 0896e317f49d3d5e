#pragma once

#include "ui/ProgressFigures.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

namespace quorvane {

// The figures of a progress line after its text: "42% 10485760/25165824 bytes
// 8.5 MB/s 0:02 left"; the time left is given only while bytes remain.
std::string progressFigures(std::uint64_t done, std::uint64_t total,
                            ProgressClock::duration elapsed);

// The line over a whole add of several files: "Adding file 2,345 of 5,000,
// 640 MB of 1.4 GB, 0:42 left"; the time left once bytes are done and while
// some remain.
std::string batchFigures(std::uint64_t number, std::uint64_t count, std::uint64_t done,
                         std::uint64_t total, ProgressClock::duration elapsed);

// The one-line progress indicator of a terminal: "<text> <figures>", redrawn
// in place at most ten times a second (and once more when a step completes,
// so that the last figure is the true one). A step that ends within half a
// second draws nothing: a line that flashes by tells nothing.
class ProgressLine {
  public:
    using Now = std::function<ProgressClock::time_point()>;

    explicit ProgressLine(std::ostream& out, Now now = ProgressClock::now)
        : out_(out), now_(std::move(now)) {}

    void start(const std::string& text); // a new busy box: nothing drawn yet
    void update(std::uint64_t done, std::uint64_t total);
    // Ends the drawn line, if any, so that whatever follows starts on a line of its own.
    void finish();

    // An add of count files of totalBytes in all: until endBatch, one line
    // (batchFigures) covers them all instead of a line per file, drawn once
    // the batch has run half a second. Each file is announced before its
    // busy box; update then reports the bytes of that file.
    void startBatch(std::uint64_t count, std::uint64_t totalBytes);
    void startBatchFile(std::uint64_t number, std::uint64_t size);
    void endBatch();
    bool inBatch() const { return batch_.active; }

  private:
    void draw(std::uint64_t done, std::uint64_t total, ProgressClock::time_point now);
    void drawBatch();

    struct Batch {
        bool active = false;
        std::uint64_t count = 0;
        std::uint64_t totalBytes = 0;
        std::uint64_t number = 0;
        std::uint64_t doneBefore = 0; // the bytes of the files before this one
        std::uint64_t fileSize = 0;
        std::uint64_t fileDone = 0;
        ProgressClock::time_point started{};
    };

    std::ostream& out_;
    Now now_;
    std::string text_;
    bool drawn_ = false;     // a line is on the screen
    bool stepDrawn_ = false; // this step has drawn it
    bool stepStarted_ = false;
    std::uint64_t lastDone_ = 0;
    std::uint64_t lastTotal_ = 0;
    ProgressClock::time_point stepStart_{};
    ProgressClock::time_point lastDraw_{};
    Batch batch_;
};

} // namespace quorvane
