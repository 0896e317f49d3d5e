#include "watch/CloseWatch.h"

#include <systemd/sd-journal.h>

#include <algorithm>
#include <climits>

namespace quorvane {

CloseWatch::CloseWatch(const CloseSettings& settings, IdleTimer::Now now)
    : session_(SessionWatch::Sources{settings.onScreenLock, settings.onSleep}),
      idle_(std::move(now)) {
    idle_.setLimit(settings.idle);
}

int CloseWatch::timeoutMilliseconds() const {
    const auto left = idle_.remaining();
    if (!left)
        return -1;
    return static_cast<int>(std::min<long long>(left->count(), INT_MAX));
}

std::optional<CloseReason> CloseWatch::check() {
    const std::vector<CloseReason> reasons = session_.takeReasons();
    if (!reasons.empty())
        return reasons.front();
    if (idle_.expired())
        return CloseReason::Idle;
    return std::nullopt;
}

std::string CloseWatch::describe() const {
    std::string text = session_.describe() + "; idle: ";
    if (const auto limit = idle_.limit())
        text += std::to_string(std::chrono::ceil<std::chrono::seconds>(*limit).count()) + " s";
    else
        text += "off";
    return text;
}

void CloseWatch::logSources(const char* program) const {
    sd_journal_print(LOG_INFO, "%s: %s", program, describe().c_str());
}

} // namespace quorvane
