#pragma once

#include "watch/CloseReason.h"
#include "watch/CloseSettings.h"
#include "watch/IdleTimer.h"
#include "watch/SessionWatch.h"

#include <optional>
#include <string>

namespace quorvane {

// Everything that closes one open safe by itself, as the settings choose:
// the session's events (SessionWatch) and this safe's idleness. Its owner
// polls fd() with timeoutMilliseconds() (the folder's loop in the tool, a
// QSocketNotifier and a timer in the window) and calls check() whenever
// either ends.
class CloseWatch {
  public:
    explicit CloseWatch(const CloseSettings& settings, IdleTimer::Now now = IdleTimer::Clock::now);

    int fd() const { return session_.fd(); }
    // How long a poll may wait before the idle limit is reached; -1: no limit.
    int timeoutMilliseconds() const;
    // The first reason to close that has come since the last call, if any.
    std::optional<CloseReason> check();
    // Input in the window, a request in the folder: the safe is in use.
    void noteUse() { idle_.noteUse(); }

    SessionWatch& session() { return session_; }
    // Which sources are listened to, in one line.
    std::string describe() const;
    // Says describe() once in the system's log (the journal).
    void logSources(const char* program) const;

  private:
    SessionWatch session_;
    IdleTimer idle_;
};

} // namespace quorvane
