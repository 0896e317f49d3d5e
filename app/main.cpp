#include "app/DesktopProgram.h"
#include "app/DisplayCheck.h"
#include "app/GuardedApplication.h"
#include "app/ProgramIcons.h"
#include "lifecycle/ProcessEnds.h"
#include "mount/DeadMounts.h"
#include "storage/files/AbandonedFolders.h"

#include <QMessageBox>

#include <csignal>
#include <cstdio>
#include <exception>
#include <string>

namespace {

// Shown once the program has been taken down (its working folder removed).
// Without a private working directory no safe can be opened safely, so a
// failure to make one keeps the program from starting at all.
void reportFailure(bool started, const char* what) {
    std::fprintf(stderr, "quorvane: %s\n", what);
    const QString text = started ? QStringLiteral("Quorvane has stopped: %1")
                                 : QStringLiteral("Quorvane cannot start: %1");
    QMessageBox::critical(nullptr, QStringLiteral("Error"), text.arg(QString::fromLocal8Bit(what)));
}

} // namespace

int main(int argc, char** argv) {
    quorvane::keepProcessPrivate();
    // A closed terminal or pipe behind stderr must not end the program
    // without its close sequence.
    std::signal(SIGPIPE, SIG_IGN);
    if (!quorvane::displayAvailable()) {
        std::fprintf(stderr, "%s\n", quorvane::NoDisplayMessage);
        return 1;
    }

    quorvane::GuardedApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvane"));
    QApplication::setApplicationVersion(QStringLiteral(QUORVANE_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("quorvane"));
    QApplication::setWindowIcon(quorvane::applicationIcon());
    // The window ends the loop itself once its close sequence has run; boxes
    // shown before the window (the start-up password) must not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    // QApplication has taken its own options out of argv by now.
    const quorvane::CommandLine commandLine = quorvane::readCommandLine(argc, argv);
    // What earlier runs killed outright (SIGKILL, a crash) left behind.
    quorvane::removeDeadMounts();
    quorvane::removeAbandonedWorkingFolders();

    // Caught here, outside the program's scope: by the time the message shows,
    // the working folder is gone.
    bool started = false;
    try {
        quorvane::DesktopProgram program;
        started = true;
        if (!program.openStartupSafeIfGiven(commandLine))
            return 0;
        program.run();
    } catch (const std::exception& failure) {
        reportFailure(started, failure.what());
        return 1;
    } catch (...) {
        reportFailure(started, "unknown failure");
        return 1;
    }
    return 0;
}
