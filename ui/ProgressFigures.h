#pragma once

// The figures of a long step as people read them (counts, sizes, time
// left), shared by the terminal's progress line and the window's busy box,
// and the running figures of an add of many files under one busy box.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

namespace quorvane {

using ProgressClock = std::chrono::steady_clock;

// "2,345": a count with thousands separators.
std::string groupedCount(std::uint64_t count);
// A size in decimal units, one decimal below ten: "512 B", "1.4 GB", "640 MB".
std::string shortSize(std::uint64_t bytes);
// "M:SS", or "H:MM:SS" from an hour on.
std::string clockTime(std::uint64_t seconds);
// Seconds left at the pace so far, rounded up ("0:00 left" would be untrue
// while bytes remain); done and seconds must be above 0.
std::uint64_t secondsLeft(std::uint64_t done, std::uint64_t total, double seconds);
// "640 MB of 1.4 GB, 0:42 left"; the time left once bytes are done and while
// some remain.
std::string amountsDone(std::uint64_t done, std::uint64_t total, ProgressClock::duration elapsed);

// An add of count files of totalBytes in all. The files are announced on one
// thread; the bytes of the current one may come from the thread that copies it.
class FileBatch {
  public:
    void start(std::uint64_t count, std::uint64_t totalBytes, ProgressClock::time_point now);
    void startFile(std::uint64_t number, std::uint64_t size);
    void end() { active_ = false; }
    bool active() const { return active_; }
    // Any thread: how much of the current file has been copied.
    void fileProgress(std::uint64_t done) { fileDone_ = done; }
    // "File 12 of 2,950, 640 MB of 1.4 GB, 0:42 left".
    std::string figures(ProgressClock::time_point now) const;

  private:
    bool active_ = false;
    std::uint64_t count_ = 0;
    std::uint64_t totalBytes_ = 0;
    std::uint64_t number_ = 0;
    std::uint64_t doneBefore_ = 0; // the bytes of the files before this one
    std::uint64_t fileSize_ = 0;
    std::atomic<std::uint64_t> fileDone_{0};
    ProgressClock::time_point started_{};
};

} // namespace quorvane
