#pragma once

#include "lifecycle/SafeState.h"
#include "storage/files/EraseReach.h"
#include "ui/Shell.h"

#include <functional>

namespace quorvane {

// What every operation works on: the state of the open safe and the user.
struct Session {
    SafeState& state;
    Shell& shell;
    // The row a row command acts on (-1: none); commands set it themselves.
    int CurrentRow = -1;
    // Judges, before an original is overwritten, whether the overwrite can
    // reach its old blocks. Tests put a fixed verdict here, so that what they
    // expect does not depend on the disk under their temporary folder.
    std::function<EraseReach(int fd)> assessErase = assessOverwrite;
};

} // namespace quorvane
