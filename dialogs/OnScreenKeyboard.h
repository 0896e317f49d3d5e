#pragma once

#include <QString>

namespace quorvane::dialogs {

// The first on-screen keyboard program found on PATH (onboard, xvkbd,
// matchbox-keyboard), or an empty text when there is none.
QString findOnScreenKeyboard();

// Starts it detached, so that it outlives the dialog; true when one started.
// Nobody is told when there is none: the password can still be typed.
bool startOnScreenKeyboard();

} // namespace quorvane::dialogs
