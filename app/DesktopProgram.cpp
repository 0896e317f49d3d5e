#include "app/DesktopProgram.h"

#include "app/CommandIds.h"
#include "app/CommandRouting.h"
#include "app/GuardedApplication.h"
#include "app/WindowMemory.h"
#include "dialogs/BusyDialog.h"
#include "dialogs/PreferencesDialog.h"
#include "entries/Entries.h"
#include "lifecycle/EntryListing.h"
#include "lifecycle/Lifecycle.h"
#include "storage/files/UnfinishedFiles.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

#include <atomic>
#include <cstdlib>

namespace quorvane {

namespace {

constexpr int EndRetryMilliseconds = 250;
constexpr int FollowRetryMilliseconds = 200;

// Marks a command of the window as under way while it lives.
struct CommandRunning {
    explicit CommandRunning(bool& flag) : flag_(flag), before_(flag) { flag_ = true; }
    ~CommandRunning() { flag_ = before_; }
    CommandRunning(const CommandRunning&) = delete;
    CommandRunning& operator=(const CommandRunning&) = delete;

  private:
    bool& flag_;
    bool before_;
};

// The program whose window may be up; none outside its lifetime.
std::atomic<DesktopProgram*> runningProgram{nullptr};

// Qt ends the process with exit(1) when the connection to the display breaks
// (the X server killed, a log-out, a dropped ssh -X), from inside whatever
// event loop runs. It gets there two ways: through Xlib's I/O error handler,
// which the native interface would let a program replace, and straight from
// its own processing of X events, which nothing can hook. Both end in exit(),
// which runs this handler first, on the thread that called it, with the
// program's objects still in place below.
extern "C" void endRunningProgramWithoutDisplay() {
    if (DesktopProgram* program = runningProgram.exchange(nullptr))
        program->endWithoutDisplay();
}

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
    : guiThread_(std::this_thread::get_id()), session_{state_, shell_},
      window_(session_, [this] { return shell_.isBusy(); }),
      terminationWatch_([this] { endOnRequest(); }) {
    state_.workDir = workingDirectory_.anchored();
    shell_.attachWindow(&window_);
    shell_.parkWhileAsking(&lock_);
    // Once per process; it does nothing while no program lives.
    static const bool exitHandled = std::atexit(endRunningProgramWithoutDisplay) == 0;
    static_cast<void>(exitHandled);
    runningProgram = this;
    window_.setCommandHandler([this](int id) {
        if (id == command::Lock) {
            // Outside the command: the lock waits for the folder's thread.
            QTimer::singleShot(0, &locking_, [this] { locking_.lock(CloseReason::ByHand); });
            return;
        }
        if (id == command::Preferences) {
            editPreferences();
            return;
        }
        if (id == command::CloseFolder) {
            // Without the lock: the folder's thread may wait for it.
            folder_.unmount();
            return;
        }
        {
            CommandRunning running(commandRunning_);
            std::lock_guard hold(lock_);
            quorvane::routeCommand(session_, &window_, id, &folder_);
            folder_.entriesChangedOutside();
        }
        locking_.followSession();
    });
    window_.setDropHandler([this](const std::vector<std::string>& paths) {
        CommandRunning running(commandRunning_);
        std::lock_guard hold(lock_);
        addDroppedFiles(session_, paths);
        folder_.entriesChangedOutside();
    });
    window_.setRowOpenHandler([this](int row) {
        CommandRunning running(commandRunning_);
        std::lock_guard hold(lock_);
        folder_.openRow(row);
    });
    window_.setSafeEndingHandler([this] { folder_.unmount(); });
    window_.setDragSource([this](const std::vector<int>& rows) {
        QList<QUrl> urls;
        CommandRunning running(commandRunning_);
        std::lock_guard hold(lock_);
        for (const auto& file : folder_.filesOfRows(rows))
            urls << QUrl::fromLocalFile(QFile::decodeName(file.c_str()));
        return urls;
    });
    QObject::connect(&folder_, &OpenFolder::mountChanged, &window_, [this] {
        window_.showFolderStatus(folder_.mounted() ? QFile::decodeName(folder_.dir().c_str())
                                                   : QString());
    });
    restoreWindowShape(window_);
    folder_.nobodyAnswers = [this] { return shell_.answersItself(); };
    QObject::connect(&folder_, &OpenFolder::entriesChanged, &window_, [this] { followFolder(); });
    locking_.listen(dialogs::loadClosePreferences());
    bindLockShortcut();
}

void DesktopProgram::bindLockShortcut() {
    for (QAction* menu : window_.menuBar()->actions()) {
        if (menu->menu() == nullptr)
            continue;
        for (QAction* item : menu->menu()->actions())
            if (item->data().toInt() == command::Lock)
                item->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    }
}

void DesktopProgram::editPreferences() {
    dialogs::PreferencesDialog dialog(locking_.settings(), &window_);
    if (dialog.exec() != QDialog::Accepted)
        return;
    dialogs::saveClosePreferences(dialog.settings());
    locking_.listen(dialog.settings());
}

void DesktopProgram::followFolder() {
    if (window_.hasEnded() || !isSafeOpen(state_))
        return;
    if (commandRunning_ || shell_.isBusy()) {
        QTimer::singleShot(FollowRetryMilliseconds, &window_, [this] { followFolder(); });
        return;
    }
    CommandRunning running(commandRunning_);
    std::lock_guard hold(lock_);
    // The folder kept the index in memory in step with what it changed.
    showEntryList(state_, shell_);
}

DesktopProgram::~DesktopProgram() {
    runningProgram = nullptr;
    // Nothing may speak to a window that is going away.
    shell_.attachWindow(nullptr);
}

bool DesktopProgram::openStartupSafeIfGiven(const CommandLine& commandLine) {
    if (commandLine.argumentCount <= 1)
        return true;
    const bool opened = openStartupSafe(session_, commandLine.StartupSafePath) != -1;
    locking_.followSession();
    return opened;
}

bool DesktopProgram::closeOpenDialog() {
    if (QWidget* popup = QApplication::activePopupWidget()) {
        popup->close();
        return true;
    }
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || qobject_cast<dialogs::BusyDialog*>(modal) != nullptr)
        return false;
    // Rejected, a question says No (the shell takes only Yes for Yes), an
    // information box is done with, a picker or password dialog cancelled.
    if (auto* dialog = qobject_cast<QDialog*>(modal))
        dialog->reject();
    else
        modal->close();
    return true;
}

void DesktopProgram::endOnRequest() {
    if (window_.hasEnded())
        return;
    shell_.setAnswering(QtShell::Answering::KeepData);
    // The operation that asked goes on with the answer and ends; one in the
    // middle of a long step finishes it first, since closing under it would
    // pull the safe away.
    if (closeOpenDialog() || shell_.isBusy()) {
        QTimer::singleShot(EndRetryMilliseconds, &window_, [this] { endOnRequest(); });
        return;
    }
    window_.close();
    // A safe that could not be written keeps the window and its changes in
    // the working copy; from here on the user answers again.
    if (!window_.hasEnded())
        shell_.setAnswering(QtShell::Answering::User);
}

void DesktopProgram::endWithoutDisplay() {
    shell_.setAnswering(QtShell::Answering::NoDisplay);
    // Operations run on the GUI thread only, and that is where Qt ends the
    // process; from any other thread the session may be half changed under
    // it, and nothing is written. A long step under way cannot be finished
    // by its operation any more: it is waited for, and nothing it may have
    // left half done is written either.
    if (std::this_thread::get_id() == guiThread_) {
        // The folder's thread must not work on the safe while it is written.
        folder_.unmountNow();
        if (shell_.isBusy())
            shell_.waitForLongStep();
        else if (isSafeOpen(state_))
            closeSafe(session_, CloseEntry::Destroy);
    }
    removeUnfinishedFiles();
    workingDirectory_.remove();
}

void DesktopProgram::run() {
    // A termination request during the start-up open has ended the program
    // before its window was shown.
    if (!window_.hasEnded()) {
        window_.show();
        QApplication::exec();
        rememberWindowShape(window_);
    }
    // A step that failed with an exception may have left the working copy
    // half changed: nothing of it is written, the program ends instead.
    GuardedApplication::rethrowFromEventLoop();
    // The loop can end without the window's close sequence (the desktop
    // session ending, say); the safe is written all the same. (The process
    // can also end inside the loop: see endWithoutDisplay.)
    folder_.unmount();
    if (isSafeOpen(state_))
        closeSafe(session_, CloseEntry::Destroy);
}

} // namespace quorvane
