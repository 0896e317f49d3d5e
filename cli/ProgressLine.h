#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

namespace quorvane {

// The one-line progress indicator of a terminal: "<text> <done>/<total> bytes
// <speed> MB/s", redrawn in place at most ten times a second (and once more
// when a step completes, so that the last figure is the true one).
class ProgressLine {
  public:
    explicit ProgressLine(std::ostream& out) : out_(out) {}

    void start(const std::string& text); // a new busy box: nothing drawn yet
    void update(std::uint64_t done, std::uint64_t total);
    // Ends the drawn line, if any, so that whatever follows starts on a line of its own.
    void finish();

  private:
    using Clock = std::chrono::steady_clock;
    void draw(std::uint64_t done, std::uint64_t total, Clock::time_point now);

    std::ostream& out_;
    std::string text_;
    bool drawn_ = false;
    bool stepStarted_ = false;
    std::uint64_t lastDone_ = 0;
    std::uint64_t lastTotal_ = 0;
    Clock::time_point stepStart_{};
    Clock::time_point lastDraw_{};
};

} // namespace quorvane
