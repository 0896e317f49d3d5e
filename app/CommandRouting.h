#pragma once

#include "lifecycle/Session.h"

class QWidget;

namespace quorvane {

class OpenFolder;

// Carries out the command with the given id (see CommandIds.h) on the
// session; owner is the window that dialogs of the program itself sit on,
// folder the open safe's folder (Open as Folder does nothing without it).
// Returns false for an id that names no command, which then does nothing.
bool routeCommand(Session& session, QWidget* owner, int id, OpenFolder* folder = nullptr);

} // namespace quorvane
