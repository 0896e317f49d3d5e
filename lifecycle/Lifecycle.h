#pragma once

#include "lifecycle/Session.h"
#include "lifecycle/WriteResult.h"

#include <string>

namespace quorvane {

// Refused: the password or the file was refused ("Invalid File or Password").
// Failed: the system failed, or another program has the safe open; the user
// was told why and no safe is open.
enum class OpenResult { Refused, Failed, Done };
enum class CloseResult { Closed, Failed };
// Where a close comes from: Save & Exit, the window's close box, or the
// window's destruction (which must not destroy the window again).
enum class CloseEntry { SaveAndExit, CloseBox, Destroy };

// The format a new safe is written in; the window's New Safe makes plain ones.
enum class SafeFormat { Plain, Sealed };

void createSafe(Session& session, SafeFormat format = SafeFormat::Plain); // New Safe, 32779
void openSafe(Session& session);                                          // Open Safe, 32771
// The start-up open of argument 1; -1 when the password was refused, else 0
// (also when the file could not be read: that is told before any password).
int openStartupSafe(Session& session, const std::string& startupSafePath);
// The shared second half of the three; an open that does not go through
// switches the safe buttons off.
OpenResult openWorkingCopy(Session& session, const std::string& sourcePath,
                           const std::string& progressText, const std::string& notOpenMessage);

void saveSafe(Session& session); // Save, 32772
// Writes the open safe and ends it; destroys the main window unless entered
// from the window's destruction. On failure ("Failed to Save file!" shown) the
// safe stays open and nothing is destroyed. With no safe open: Closed, nothing done.
CloseResult closeSafe(Session& session, CloseEntry entry);
// Save & Exit (105), the close box, and the window's destruction: closes the
// safe if one is open and ends the main window (not again for Destroy).
// After a failed save it asks whether to close without saving; returns false
// when the window must stay (the answer was No). Destroy always returns true:
// the window is going anyway, and a safe that could not be written is given up.
bool closeRequested(Session& session, CloseEntry entry);
void changePassword(Session& session); // Change Password, 32792
// A new password (New Safe, Change Password) is typed twice: after the password
// dialog took it, asks for it again. True when the confirmation is the same;
// false after Cancel, and after "The passwords do not match." when it differs.
bool confirmNewPassword(Shell& shell, const std::string& password);
// Seal Safe, 32793: after a Yes, writes the open plain safe sealed at once, as
// Save writes it (read back before it replaces the file). Refused in a
// read-only session; nothing happens without a safe or with a sealed one.
void sealSafe(Session& session);

// What becomes of the session once its safe file is written.
enum class AfterWrite {
    KeepOpen,
    // The working copy is removed in a long step of its own under the same
    // busy box: the system takes about 0.2 s per GiB to drop its pages,
    // which must not hold up the window.
    EndSession,
};

// Encrypts the working copy into the safe file (atomic replacement); the
// safe stays open unless asked otherwise (and the write succeeded). Used by
// Save, the close sequence and before switching safes. Shows progressText in
// the busy box and hides it again; shows no message, except after a write that
// could not keep the old safe file's owner, group or ACL (tellAccessChanged).
// A failure says why; the safe file keeps its last state.
WriteResult writeSafeFile(Session& session, const std::string& progressText,
                          AfterWrite after = AfterWrite::KeepOpen);

// Before Open Safe or New Safe replaces the open safe: writes it as Save does
// (without "Changes Saved"). True when no safe is open or it was written; on
// failure shows "Failed to Save file!" and returns false, the safe still open.
bool saveBeforeSwitching(Session& session, AfterWrite after = AfterWrite::KeepOpen);

// After a write of the safe file: tells what of the old file's access the new
// one could not keep, if anything (an information box).
void tellAccessChanged(Session& session, const WriteResult& written);
// "Failed to Save file!" with the reason of the failed write below it.
void showSaveFailed(Session& session, const Failure& failure);
// text, and the system's reason on a line below it when there is one.
std::string withReason(const std::string& text, const std::string& reason);

// For every command that changes the safe: when the session is read-only,
// tells the user so and returns true; nothing may then be written.
bool refuseIfReadOnly(Session& session);

} // namespace quorvane
