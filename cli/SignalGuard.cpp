#include "cli/SignalGuard.h"

#include "cli/PasswordInput.h"
#include "lifecycle/ProcessEnds.h"
#include "storage/files/FolderRemoval.h"
#include "storage/files/UnfinishedFiles.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <semaphore.h>
#include <unistd.h>

namespace quorvane {

namespace {

// Private signals: one stops the working thread where it stands, one tells
// the watcher that the guard is going away.
int parkSignal() {
    return SIGRTMIN;
}
int wakeSignal() {
    return SIGRTMIN + 1;
}

sem_t parkedSemaphore;
std::atomic<bool> signalled{false};

sigset_t endingSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : EndingSignals)
        sigaddset(&set, signal);
    return set;
}

// The job-control pair too: a stop (Ctrl-Z) and the continuation after it
// come to the watcher, which gives the terminal back around the stop.
sigset_t watchedSignals() {
    sigset_t set = endingSignals();
    sigaddset(&set, wakeSignal());
    sigaddset(&set, SIGTSTP);
    sigaddset(&set, SIGCONT);
    return set;
}

sigset_t only(int signal) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    return set;
}

// Stops the whole job as SIGTSTP would have, with the terminal's echo back on
// for the shell. Once it goes on, the SIGCONT that woke it is taken here, and
// echo goes off again for the password still being read. A stop the system
// throws away (a job that no shell controls) goes on at once, without one.
void stopTheJob() {
    giveTerminalBackForStop();
    const sigset_t stop = only(SIGTSTP);
    pthread_sigmask(SIG_UNBLOCK, &stop, nullptr);
    ::raise(SIGTSTP); // its default action, on this thread: the process stops here
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    const sigset_t resumed = only(SIGCONT);
    const timespec noWait{};
    const bool wasStopped = sigtimedwait(&resumed, nullptr, &noWait) == SIGCONT;
    takeTerminalAgainAfterStop(wasStopped);
}

// Runs on the working thread: tells the watcher that it holds still, and
// holds still until the process ends. Whatever call it interrupted (a write,
// a file creation) has either completed or not begun.
void parkHere(int) {
    sem_post(&parkedSemaphore);
    for (;;)
        ::pause();
}

void installParking() {
    struct sigaction action {};
    action.sa_handler = parkHere;
    sigemptyset(&action.sa_mask);
    sigaction(parkSignal(), &action, nullptr);
}

bool signalPending() {
    sigset_t pending;
    sigemptyset(&pending);
    if (sigpending(&pending) != 0)
        return false;
    // Not SIGXFSZ: one raised by our own write stays pending on this thread
    // for good (the write failed with EFBIG instead), and no watcher would
    // come for it. One sent from outside reaches the watcher all the same.
    return std::ranges::any_of(EndingSignals, [&](int signal) {
        return signal != SIGXFSZ && sigismember(&pending, signal) == 1;
    });
}

} // namespace

SignalGuard::SignalGuard() : worker_(pthread_self()) {
    sem_init(&parkedSemaphore, 0, 0);
    installParking();
    sigset_t set = watchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    watcher_ = std::thread([this] { watch(); });
}

SignalGuard::~SignalGuard() {
    // A signal that is already pending is taken before this one (sigwait
    // takes the lowest number first), so it still ends the process properly.
    pthread_kill(watcher_.native_handle(), wakeSignal());
    watcher_.join();
    sem_destroy(&parkedSemaphore);
}

void SignalGuard::guardWorkingDirectory(const std::function<std::filesystem::path()>& make) {
    std::lock_guard lock(mutex_);
    workDir_ = make();
}

void SignalGuard::stopHereIfSignalled() {
    if (!signalled && !signalPending())
        return;
    // The watcher parks this thread; until it does, wait without working.
    for (;;)
        ::pause();
}

void SignalGuard::divert(std::function<bool(int)> handler) {
    std::lock_guard lock(divertMutex_);
    diverted_ = std::move(handler);
}

bool SignalGuard::takenByDiversion(int signal) {
    std::lock_guard lock(divertMutex_);
    return diverted_ && diverted_(signal);
}

void SignalGuard::watch() {
    const sigset_t set = watchedSignals();
    for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0)
            continue;
        if (signal == wakeSignal())
            return;
        if (signal == SIGTSTP)
            stopTheJob();
        else if (signal == SIGCONT) // a stop from outside (SIGSTOP), then fg
            takeTerminalAgainAfterStop(true);
        else if (!takenByDiversion(signal))
            handle(signal);
    }
}

void SignalGuard::handle(int signal) {
    signalled = true;
    // Taken for good: the directory is either fully made and named, or not
    // begun, and the process ends with the lock held.
    mutex_.lock();
    // Removing while the working thread goes on would race with it: a working
    // file created during the removal would keep the directory alive. So it
    // is stopped first, wherever it is, even inside a long decryption.
    pthread_kill(worker_, parkSignal());
    while (sem_wait(&parkedSemaphore) != 0 && errno == EINTR) {
    }
    // From here on only calls that need no heap and no lock the stopped
    // thread could be holding.
    restoreTerminalEcho();
    // An entry half extracted into the user's folder, or a fresh safe file
    // that was about to take the safe's name.
    removeUnfinishedFiles();
    if (!workDir_.empty())
        removeFolderWithoutAllocating(workDir_.c_str());
    ::_exit(128 + signal);
}

} // namespace quorvane
