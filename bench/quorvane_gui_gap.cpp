// Opens a safe in the real window, saves it and closes it, while a 10 ms timer
// notes how late each of its ticks comes: the longest time the event loop did
// not turn (the window could not repaint or answer) during each step, in
// milliseconds. Also the time from the password's Return to the window shown
// with the safe's rows in its list and painted.
// Every dialog is answered as a user would: the password typed, Return pressed.
//
//   quorvane-gui-gap SAFE PASSWORD [open]
//       prints "rows MS ENTRIES" (Return to the painted list, and its rows),
//       then "open MS", "save MS", "save-again MS", "close MS"; with "open"
//       the two saves are left out (the close still writes the safe once).

#include "app/DesktopProgram.h"
#include "app/EntryListView.h"
#include "lifecycle/Lifecycle.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

using namespace quorvane;

class GapMeter {
  public:
    GapMeter() {
        ticks_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&ticks_, &QTimer::timeout,
                         [this] { longest_ = std::max(longest_, sinceTick_.restart()); });
        ticks_.start(TickMs);
        sinceTick_.start();
    }
    void reset() {
        sinceTick_.restart();
        longest_ = 0;
    }
    // The longest wait beyond the timer's own interval since reset().
    qint64 longestGap() {
        longest_ = std::max(longest_, sinceTick_.elapsed());
        return std::max<qint64>(0, longest_ - TickMs);
    }

  private:
    static constexpr int TickMs = 10;
    QTimer ticks_;
    QElapsedTimer sinceTick_;
    qint64 longest_ = 0;
};

// Types the password into whatever dialog asks for one and presses Return
// there (sinceReturn starts at that moment); accepts every other dialog (the
// message that the safe was saved among them).
void answerDialogs(QTimer& poll, const QString& password, QElapsedTimer& sinceReturn) {
    QObject::connect(&poll, &QTimer::timeout, [password, &sinceReturn] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr)
            return;
        if (auto* field = dialog->findChild<QLineEdit*>()) {
            field->setText(password);
            sinceReturn.start();
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
            QApplication::sendEvent(field, &press);
        }
        if (dialog->isVisible())
            dialog->accept();
    });
    poll.start(20);
}

} // namespace

int main(int argc, char** argv) {
    const bool openOnly = argc == 4 && std::strcmp(argv[3], "open") == 0;
    if (argc != 3 && !openOnly) {
        std::fprintf(stderr, "usage: quorvane-gui-gap SAFE PASSWORD [open]\n");
        return 2;
    }
    QApplication application(argc, argv);
    // As in the program: the password box closing before the window is shown
    // must not end the event loop (every later loop would return at once).
    QApplication::setQuitOnLastWindowClosed(false);
    DesktopProgram program;
    QTimer poll;
    QElapsedTimer sinceReturn;
    answerDialogs(poll, QString::fromUtf8(argv[2]), sinceReturn);
    GapMeter meter;
    int status = 0;
    // Started as a posted call, as a menu command arrives.
    QMetaObject::invokeMethod(
        &application,
        [&] {
            CommandLine commandLine;
            commandLine.argumentCount = 2;
            commandLine.StartupSafePath = argv[1];
            meter.reset();
            if (!program.openStartupSafeIfGiven(commandLine) || !isSafeOpen(program.state())) {
                std::fprintf(stderr, "quorvane-gui-gap: the safe did not open\n");
                status = 1;
                QApplication::quit();
                return;
            }
            const qint64 openGap = meter.longestGap();
            // The rows as the user sees them: the window shown, what the
            // list left for the event loop (its sorting) done, and painted.
            program.window().show();
            QCoreApplication::processEvents();
            program.window().repaint();
            std::printf("rows %lld %d\n", static_cast<long long>(sinceReturn.elapsed()),
                        program.window().entryList()->entryCount());
            std::printf("open %lld\n", static_cast<long long>(openGap));
            // The first save also builds the process's first message box.
            const std::vector<const char*> saves =
                openOnly ? std::vector<const char*>{} : std::vector{"save", "save-again"};
            for (const char* save : saves) {
                meter.reset();
                saveSafe(program.session());
                std::printf("%s %lld\n", save, static_cast<long long>(meter.longestGap()));
            }
            meter.reset();
            program.endOnRequest(); // writes the safe once more and removes the working copy
            std::printf("close %lld\n", static_cast<long long>(meter.longestGap()));
            QApplication::quit();
        },
        Qt::QueuedConnection);
    QApplication::exec();
    return status;
}
