#include "app/DesktopProgram.h"

#include "app/GuardedApplication.h"
#include "lifecycle/Lifecycle.h"

#include <QApplication>
#include <QTimer>

namespace quorvane {

namespace {

constexpr int EndRetryMilliseconds = 250;

} // namespace

CommandLine readCommandLine(int argc, const char* const* argv) {
    CommandLine commandLine;
    commandLine.argumentCount = argc < 1 ? 1 : argc;
    // The argument is taken as the bytes the system gave, so that a file
    // name in any encoding reaches the file system unchanged.
    if (argc > 1 && argv[1] != nullptr)
        commandLine.StartupSafePath = argv[1];
    return commandLine;
}

DesktopProgram::DesktopProgram()
    : session_{state_, shell_}, window_(session_, [this] { return shell_.isBusy(); }),
      terminationWatch_([this] { endOnRequest(); }) {
    state_.workDir = workingDirectory_.anchored();
    shell_.attachWindow(&window_);
}

DesktopProgram::~DesktopProgram() {
    // Nothing may speak to a window that is going away.
    shell_.attachWindow(nullptr);
}

bool DesktopProgram::openStartupSafeIfGiven(const CommandLine& commandLine) {
    if (commandLine.argumentCount <= 1)
        return true;
    return openStartupSafe(session_, commandLine.StartupSafePath) != -1;
}

void DesktopProgram::endOnRequest() {
    if (window_.hasEnded())
        return;
    // An operation waiting for an answer, or in the middle of a long step,
    // finishes first; closing under it would pull the safe away.
    if (shell_.isBusy() || QApplication::activeModalWidget() != nullptr ||
        QApplication::activePopupWidget() != nullptr) {
        QTimer::singleShot(EndRetryMilliseconds, &window_, [this] { endOnRequest(); });
        return;
    }
    window_.close();
}

void DesktopProgram::run() {
    window_.show();
    QApplication::exec();
    // A step that failed with an exception may have left the working copy
    // half changed: nothing of it is written, the program ends instead.
    GuardedApplication::rethrowFromEventLoop();
    // The loop can end without the window's close sequence (the desktop
    // session ending, say); the safe is written all the same.
    if (isSafeOpen(state_))
        closeSafe(session_, CloseEntry::Destroy);
}

} // namespace quorvane
