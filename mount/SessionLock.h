#pragma once

// The lock of an open session, held by whoever works on the safe: the
// folder's thread for each request, the window for each of its commands.
// Recursive, because the window's commands nest (a local event loop runs
// while one waits). A command that stops to ask the user something parks
// the lock: while it waits for the answer, the folder may serve requests as
// a guest, one at a time, and the command goes on only once the guest's
// request is done. A guest must not change the entries (the command holds
// rows and names that must stay what they were when it asked).

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace quorvane {

class SessionLock {
  public:
    SessionLock() = default;
    SessionLock(const SessionLock&) = delete;
    SessionLock& operator=(const SessionLock&) = delete;

    // The ordinary lock, recursive: waits for the holder and for a guest.
    void lock();
    bool try_lock();
    bool try_lock_for(std::chrono::milliseconds wait);
    void unlock();

    enum class Turn { None, Held, Guest };
    // The folder's turn for one request: the lock itself (Held), or, while
    // the holder waits for the user, a guest's turn; None after wait.
    Turn takeTurn(std::chrono::milliseconds wait);
    // Ends a turn that takeTurn gave.
    void endTurn(Turn turn);

    // Called by the holder before and after it waits for the user; nothing
    // when this thread does not hold the lock. park returns what unpark
    // takes back, so that questions may nest.
    unsigned park();
    void unpark(unsigned parkedBefore);

    // Parks the lock for as long as it lives (a question to the user).
    class Parked {
      public:
        explicit Parked(SessionLock* lock) : lock_(lock), before_(lock ? lock->park() : 0) {}
        ~Parked() {
            if (lock_ != nullptr)
                lock_->unpark(before_);
        }
        Parked(const Parked&) = delete;
        Parked& operator=(const Parked&) = delete;

      private:
        SessionLock* lock_;
        unsigned before_;
    };

  private:
    bool freeFor(std::thread::id me) const;
    bool guestWelcome() const;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread::id owner_{};
    unsigned depth_ = 0;
    // The depth at which the holder parked it (0: not parked). A guest is let
    // in only at that depth: a nested command of the holder is no question.
    unsigned parkedAt_ = 0;
    bool guest_ = false;
};

} // namespace quorvane
