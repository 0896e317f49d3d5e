#pragma once

namespace quorvane {

// Without any of these the desktop program cannot show a window, and Qt's
// own complaint about platform plugins does not tell a person what to do.
bool displayAvailable();

inline constexpr const char* NoDisplayMessage =
    "quorvane: no display found; run it under a desktop session or with: xvfb-run -a quorvane";

} // namespace quorvane
