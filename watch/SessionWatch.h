#pragma once

#include "watch/CloseReason.h"

#include <memory>
#include <string>
#include <vector>

namespace quorvane {

// Listens on D-Bus (sd-bus) for what ends the user's attention to an open
// safe: the screen saver's ActiveChanged(true) under each desktop's name on
// the session bus; on the system bus logind's Lock of this session,
// PrepareForSleep(true), PrepareForShutdown(true) and the session's removal.
// A bus or service that is missing is no failure: its events never come.
// While asked to, it holds logind's "delay" inhibitor for sleep, so that a
// suspend waits until the safe is written.
class SessionWatch {
  public:
    struct Sources {
        bool screenLock = true;
        bool sleep = true; // shutdown and log-out are always listened to
    };

    explicit SessionWatch(Sources sources);
    ~SessionWatch();
    SessionWatch(const SessionWatch&) = delete;
    SessionWatch& operator=(const SessionWatch&) = delete;

    // One descriptor for both buses, readable when there is work for
    // takeReasons(); -1 when neither bus could be reached.
    int fd() const;
    // Handles what arrived; the reasons to close since the last call, in order.
    std::vector<CloseReason> takeReasons();
    // One line for the log: which sources are listened to.
    std::string describe() const;

    // Takes logind's delay inhibitor for sleep (nothing when sleep is not
    // listened to or logind is missing); releasing lets a suspend go on.
    void holdSleepDelay();
    void releaseSleepDelay();
    bool holdsSleepDelay() const;

  private:
    // Dispatches what is ready and arms the descriptor for what comes next:
    // until this has run, the descriptor does not wake for the buses, and a
    // blocking call may have queued messages that it will not wake for.
    void pump();

    struct Buses;
    std::unique_ptr<Buses> buses_;
};

} // namespace quorvane
