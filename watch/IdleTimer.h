#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>

namespace quorvane {

// How long this safe has gone unused (input in its window, requests in its
// folder), against a limit. The clock is handed in so that a test can move
// it; noteUse() may be called from any thread (the folder serves on its own).
class IdleTimer {
  public:
    using Clock = std::chrono::steady_clock;
    using Now = std::function<Clock::time_point()>;

    explicit IdleTimer(Now now = Clock::now);

    // No limit: the safe never closes for idleness.
    void setLimit(std::optional<std::chrono::milliseconds> limit);
    std::optional<std::chrono::milliseconds> limit() const { return limit_; }
    void noteUse();
    bool expired() const;
    // Time left before expiry (zero once expired); none without a limit.
    std::optional<std::chrono::milliseconds> remaining() const;

  private:
    Now now_;
    std::optional<std::chrono::milliseconds> limit_;
    std::atomic<Clock::rep> lastUse_;
};

} // namespace quorvane
