#include "watch/IdleTimer.h"

#include <algorithm>

namespace quorvane {

IdleTimer::IdleTimer(Now now) : now_(std::move(now)), lastUse_(now_().time_since_epoch().count()) {}

void IdleTimer::setLimit(std::optional<std::chrono::milliseconds> limit) {
    limit_ = limit;
    noteUse(); // a new limit counts from now, not from the last use
}

void IdleTimer::noteUse() {
    lastUse_ = now_().time_since_epoch().count();
}

std::optional<std::chrono::milliseconds> IdleTimer::remaining() const {
    if (!limit_)
        return std::nullopt;
    const Clock::time_point lastUse{Clock::duration(lastUse_.load())};
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(lastUse + *limit_ - now_());
    return std::max(left, std::chrono::milliseconds(0));
}

bool IdleTimer::expired() const {
    const auto left = remaining();
    return left && left->count() == 0;
}

} // namespace quorvane
