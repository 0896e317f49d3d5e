#pragma once

#include "lifecycle/Session.h"

namespace quorvane {

// Ends the busy box of a change to the working copy, then reloads the list.
// The list is refreshed after the box is gone so that anything the reload has
// to say (a foreign or damaged container) is never covered by a busy box.
void hideProgressAndRefresh(Session& session);

} // namespace quorvane
