#pragma once

namespace quorvane {

// Why an open safe is being closed without its user asking in the window.
enum class CloseReason {
    ScreenLocked,
    Sleep,
    Shutdown,
    SessionEnded,
    Idle,
    ByHand,
};

// The words that follow "the folder was closed: " and the like.
const char* closeReasonText(CloseReason reason);

} // namespace quorvane
