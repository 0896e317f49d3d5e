#include "mount/SessionLock.h"

namespace quorvane {

bool SessionLock::freeFor(std::thread::id me) const {
    return !guest_ && (depth_ == 0 || owner_ == me);
}

bool SessionLock::guestWelcome() const {
    return depth_ != 0 && parkedAt_ == depth_ && !guest_;
}

void SessionLock::lock() {
    std::unique_lock hold(mutex_);
    const auto me = std::this_thread::get_id();
    changed_.wait(hold, [&] { return freeFor(me); });
    owner_ = me;
    ++depth_;
}

bool SessionLock::try_lock() {
    return try_lock_for(std::chrono::milliseconds(0));
}

bool SessionLock::try_lock_for(std::chrono::milliseconds wait) {
    std::unique_lock hold(mutex_);
    const auto me = std::this_thread::get_id();
    if (!changed_.wait_for(hold, wait, [&] { return freeFor(me); }))
        return false;
    owner_ = me;
    ++depth_;
    return true;
}

void SessionLock::unlock() {
    {
        const std::lock_guard hold(mutex_);
        if (depth_ == 0)
            return;
        if (--depth_ == 0)
            owner_ = std::thread::id{};
        if (depth_ < parkedAt_)
            parkedAt_ = 0; // a question left without its answer: parked no more
    }
    changed_.notify_all();
}

SessionLock::Turn SessionLock::takeTurn(std::chrono::milliseconds wait) {
    std::unique_lock hold(mutex_);
    const auto me = std::this_thread::get_id();
    if (!changed_.wait_for(hold, wait, [&] { return freeFor(me) || guestWelcome(); }))
        return Turn::None;
    if (freeFor(me)) {
        owner_ = me;
        ++depth_;
        return Turn::Held;
    }
    guest_ = true;
    return Turn::Guest;
}

void SessionLock::endTurn(Turn turn) {
    if (turn == Turn::Held) {
        unlock();
        return;
    }
    if (turn == Turn::Guest) {
        {
            const std::lock_guard hold(mutex_);
            guest_ = false;
        }
        changed_.notify_all();
    }
}

unsigned SessionLock::park() {
    unsigned before = 0;
    {
        const std::lock_guard hold(mutex_);
        if (depth_ == 0 || owner_ != std::this_thread::get_id())
            return parkedAt_;
        before = parkedAt_;
        parkedAt_ = depth_;
    }
    changed_.notify_all();
    return before;
}

// The answer is in: the command goes on once a guest's request is done.
void SessionLock::unpark(unsigned parkedBefore) {
    std::unique_lock hold(mutex_);
    if (depth_ == 0 || owner_ != std::this_thread::get_id())
        return;
    changed_.wait(hold, [&] { return !guest_; });
    parkedAt_ = parkedBefore;
}

} // namespace quorvane
