// The desktop program on a real X server, for a test that ends it from
// outside. It opens SAFE with PASSWORD (as the start-up open does once its
// dialog is answered), then takes NEW-PASSWORD as Change Password leaves it,
// a change that only the close sequence writes; with "box" an information
// box waits for an answer as well. It prints "ready" once all of that is up.
//
//   app_window_ends_child SAFE PASSWORD NEW-PASSWORD [box]

#include "app/DesktopProgram.h"
#include "app/GuardedApplication.h"
#include "lifecycle/Lifecycle.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc < 4)
        return 2;
    const std::string safe = argv[1];
    const std::string password = argv[2];
    const std::string newPassword = argv[3];
    const bool withBox = argc > 4 && std::string(argv[4]) == "box";

    quorvane::GuardedApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    quorvane::DesktopProgram program;
    program.state().safePath = safe;
    program.state().password = password;
    if (quorvane::openWorkingCopy(program.session(), safe, "Opening", "Not opened") !=
            quorvane::OpenResult::Done ||
        !quorvane::isSafeOpen(program.state()))
        return 3;
    program.state().password = newPassword;
    if (withBox)
        QTimer::singleShot(0, &program.window(), [&program] {
            program.shell().showMessage("Waiting for an answer", "Information",
                                        quorvane::MessageIcon::Information);
        });
    QTimer ready;
    QObject::connect(&ready, &QTimer::timeout, [&] {
        if (!program.window().isVisible() ||
            (withBox && QApplication::activeModalWidget() == nullptr))
            return;
        ready.stop();
        std::printf("ready\n");
        std::fflush(stdout);
    });
    ready.start(50);
    program.run();
    return 0;
}
