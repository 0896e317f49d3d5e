#pragma once

#include "lifecycle/Session.h"

class QWidget;

namespace quorvane {

// Carries out the command with the given id (see CommandIds.h) on the
// session; owner is the window that dialogs of the program itself sit on.
// Returns false for an id that names no command, which then does nothing.
bool routeCommand(Session& session, QWidget* owner, int id);

} // namespace quorvane
