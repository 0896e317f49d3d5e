// The desktop program on a real X server, for a test that ends it from
// outside: SAFE opened with PASSWORD (as the start-up open does once its
// dialog is answered), then NEW-PASSWORD taken as Change Password leaves it,
// a change only the close sequence writes; with "box", an information box
// waiting for its answer. Prints "ready" once all of it is up.
//   app_window_ends_child SAFE PASSWORD NEW-PASSWORD [box]

#include "app/DesktopProgram.h"
#include "app/GuardedApplication.h"
#include "lifecycle/Lifecycle.h"

#include <QTimer>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 4)
        return 2;
    const bool withBox = argc > 4 && std::strcmp(argv[4], "box") == 0;
    quorvane::GuardedApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    quorvane::DesktopProgram program;
    program.state().safePath = argv[1];
    program.state().password = argv[2];
    if (quorvane::openWorkingCopy(program.session(), argv[1], "", "") != quorvane::OpenResult::Done)
        return 3;
    program.state().password = argv[3];
    QTimer::singleShot(0, [&] {
        if (withBox)
            program.shell().showMessage("Waiting", "", quorvane::MessageIcon::Information);
    });
    QTimer ready;
    QObject::connect(&ready, &QTimer::timeout, [&] {
        if (program.window().isVisible() && (!withBox || QApplication::activeModalWidget())) {
            ready.stop();
            std::printf("ready\n");
            std::fflush(stdout);
        }
    });
    ready.start(50);
    program.run();
    return 0;
}
