#pragma once

#include "app/MainWindow.h"
#include "app/OpenFolder.h"
#include "app/QtShell.h"
#include "app/SafeLocking.h"
#include "app/TerminationWatch.h"
#include "lifecycle/SafeState.h"
#include "lifecycle/Session.h"
#include "storage/files/WorkingDirectory.h"

#include <string>
#include <thread>

namespace quorvane {

// What the command line gives the program: only argument 1 is used, the
// path of a safe to open at start-up, kept as the bytes that were given.
struct CommandLine {
    int argumentCount = 1;
    std::string StartupSafePath;
};

CommandLine readCommandLine(int argc, const char* const* argv);

// The desktop program's one of everything: working directory, safe state,
// port, session and main window, wired together. Needs a QApplication.
class DesktopProgram {
  public:
    DesktopProgram(); // throws std::system_error when no working directory can be made
    ~DesktopProgram();
    DesktopProgram(const DesktopProgram&) = delete;
    DesktopProgram& operator=(const DesktopProgram&) = delete;

    // Opens the safe named on the command line, if any. False when its
    // password was refused: the program then ends without showing its window.
    bool openStartupSafeIfGiven(const CommandLine& commandLine);
    // Shows the window and runs the event loop until the window has ended;
    // then closes a safe that is somehow still open, writing it.
    void run();

    MainWindow& window() { return window_; }
    QtShell& shell() { return shell_; }
    Session& session() { return session_; }
    SafeState& state() { return state_; }
    const WorkingDirectory& workingDirectory() const { return workingDirectory_; }
    OpenFolder& folder() { return folder_; }
    SafeLocking& locking() { return locking_; }

    // Ends the program as the close box would, without waiting for anyone
    // (a termination request: the session manager kills what stays): the
    // dialog or menu that is open is closed with the answer that keeps data
    // (No, Cancel, OK; a password or file picker is cancelled), every later
    // box is answered so at once, and once no long step runs the close
    // sequence writes the safe and removes the working copy.
    void endOnRequest();

    // For a process that ends from inside Qt, with no way back to the event
    // loop (the display's connection broke): the close sequence without
    // questions and without widgets, then the working folder removed.
    void endWithoutDisplay();

  private:
    // The list shows the entries again after the folder changed them, once
    // no command of the window is under way.
    void followFolder();

    // Closes the open pop-up menu or modal dialog, if any, with the answer
    // that keeps data; the busy box is none. True when one was open.
    bool closeOpenDialog();
    // Edit > Preferences: when the safe closes by itself; kept and listened to.
    void editPreferences();
    // File > Lock also answers to Ctrl+L.
    void bindLockShortcut();

    std::thread::id guiThread_;
    WorkingDirectory workingDirectory_;
    SafeState state_;
    QtShell shell_;
    Session session_;
    MainWindow window_;
    TerminationWatch terminationWatch_;
    // Held by each command of the window and by each request of the folder.
    SessionLock lock_;
    OpenFolder folder_{session_, lock_};
    bool commandRunning_ = false;
    SafeLocking locking_{{session_, shell_, window_, folder_, [this] { return closeOpenDialog(); },
                          [this] { return commandRunning_; }}};
};

} // namespace quorvane
