#include "watch/CloseReason.h"

namespace quorvane {

const char* closeReasonText(CloseReason reason) {
    switch (reason) {
    case CloseReason::ScreenLocked:
        return "the screen was locked";
    case CloseReason::Sleep:
        return "the computer is going to sleep";
    case CloseReason::Shutdown:
        return "the computer is shutting down";
    case CloseReason::SessionEnded:
        return "the session ended";
    case CloseReason::Idle:
        return "the safe was not used for a while";
    case CloseReason::ByHand:
        return "you locked it";
    }
    return "you locked it";
}

} // namespace quorvane
