#pragma once

#include "lifecycle/SafeState.h"
#include "ui/Shell.h"

namespace quorvane {

// What every operation works on: the state of the open safe and the user.
struct Session {
    SafeState& state;
    Shell& shell;
    // The row a row command acts on (-1: none); commands set it themselves.
    int CurrentRow = -1;
};

} // namespace quorvane
