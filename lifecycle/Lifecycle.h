#pragma once

#include "lifecycle/Session.h"

#include <string>

namespace quorvane {

enum class OpenResult { Refused, Done };
enum class CloseResult { Closed, Failed };
// Where a close comes from: Save & Exit, the window's close box, or the
// window's destruction (which must not destroy the window again).
enum class CloseEntry { SaveAndExit, CloseBox, Destroy };

void createSafe(Session& session);                   // New Safe, 32779
void openSafe(Session& session);                     // Open Safe, 32771
// The start-up open of argument 1; -1 when the password was refused, else 0.
int openStartupSafe(Session& session, const std::string& startupSafePath);
OpenResult openWorkingCopy(Session& session, const std::string& sourcePath,
                           const std::string& progressText, const std::string& notOpenMessage);

void saveSafe(Session& session);                     // Save, 32772
CloseResult closeSafe(Session& session, CloseEntry entry);
// Save & Exit (105) and the close box: closes the safe if one is open and
// ends the main window; returns false when the window must stay.
bool closeRequested(Session& session, CloseEntry entry);
void changePassword(Session& session);               // Change Password, 32792

// Encrypts the working copy into the safe file (atomic replacement); the
// safe stays open. Used by Save, the close sequence and before switching safes.
bool writeSafeFile(Session& session, const std::string& progressText);

} // namespace quorvane
