#include "app/DesktopProgram.h"
#include "app/DisplayCheck.h"
#include "app/ProgramIcons.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <system_error>

int main(int argc, char** argv) {
    if (!quorvane::displayAvailable()) {
        std::fprintf(stderr, "%s\n", quorvane::NoDisplayMessage);
        return 1;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvane"));
    QApplication::setApplicationVersion(QStringLiteral(QUORVANE_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("quorvane"));
    QApplication::setWindowIcon(quorvane::applicationIcon());
    // The window ends the loop itself once its close sequence has run; boxes
    // shown before the window (the start-up password) must not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    // QApplication has taken its own options out of argv by now.
    const quorvane::CommandLine commandLine = quorvane::readCommandLine(argc, argv);

    try {
        quorvane::DesktopProgram program;
        if (!program.openStartupSafeIfGiven(commandLine))
            return 0;
        program.run();
    } catch (const std::system_error& error) {
        // Without a private working directory no safe can be opened safely.
        std::fprintf(stderr, "quorvane: %s\n", error.what());
        QMessageBox::critical(
            nullptr, QStringLiteral("Error"),
            QStringLiteral("Quorvane cannot start: %1").arg(QString::fromLocal8Bit(error.what())));
    }
    return 0;
}
