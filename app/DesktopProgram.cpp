#include "app/DesktopProgram.h"

#include "app/CommandRouting.h"
#include "app/GuardedApplication.h"
#include "entries/Entries.h"
#include "lifecycle/EntryListing.h"
#include "lifecycle/Lifecycle.h"

#include <QApplication>
#include <QTimer>

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
    window_.setCommandHandler([this](int id) {
        CommandRunning running(commandRunning_);
        std::lock_guard hold(lock_);
        quorvane::routeCommand(session_, &window_, id, &folder_);
    });
    window_.setDropHandler([this](const std::vector<std::string>& paths) {
        CommandRunning running(commandRunning_);
        std::lock_guard hold(lock_);
        addDroppedFiles(session_, paths);
    });
    window_.setRowOpenHandler([this](int row) {
        CommandRunning running(commandRunning_);
        std::lock_guard hold(lock_);
        folder_.openRow(row);
    });
    window_.setSafeEndingHandler([this] { folder_.unmount(); });
    QObject::connect(&folder_, &OpenFolder::entriesChanged, &window_, [this] { followFolder(); });
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
    folder_.unmount();
    if (isSafeOpen(state_))
        closeSafe(session_, CloseEntry::Destroy);
}

} // namespace quorvane
