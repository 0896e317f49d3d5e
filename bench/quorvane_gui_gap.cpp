// Opens a safe in the real window, saves it and closes it, while a 10 ms timer
// notes how late each of its ticks comes: the longest time the event loop did
// not turn (the window could not repaint or answer) during each step, in
// milliseconds.
// Every dialog is answered as a user would: the password typed, OK pressed.
//
//   quorvane-gui-gap SAFE PASSWORD     prints "open MS", "save MS", "save-again MS", "close MS"

#include "app/DesktopProgram.h"
#include "lifecycle/Lifecycle.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>

#include <algorithm>
#include <cstdio>

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

// Types the password into whatever dialog asks for one and accepts every
// dialog (the message that the safe was saved among them).
void answerDialogs(QTimer& poll, const QString& password) {
    QObject::connect(&poll, &QTimer::timeout, [password] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr)
            return;
        if (auto* field = dialog->findChild<QLineEdit*>())
            field->setText(password);
        dialog->accept();
    });
    poll.start(20);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: quorvane-gui-gap SAFE PASSWORD\n");
        return 2;
    }
    QApplication application(argc, argv);
    // As in the program: the password box closing before the window is shown
    // must not end the event loop (every later loop would return at once).
    QApplication::setQuitOnLastWindowClosed(false);
    DesktopProgram program;
    QTimer poll;
    answerDialogs(poll, QString::fromUtf8(argv[2]));
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
            std::printf("open %lld\n", static_cast<long long>(meter.longestGap()));
            program.window().show();
            // The first save also builds the process's first message box.
            for (const char* save : {"save", "save-again"}) {
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
