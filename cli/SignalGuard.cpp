#include "cli/SignalGuard.h"

#include "cli/PasswordInput.h"

#include <csignal>
#include <pthread.h>
#include <system_error>
#include <unistd.h>

namespace quorvane {

namespace {

sigset_t watchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        sigaddset(&set, signal);
    return set;
}

} // namespace

SignalGuard::SignalGuard() {
    sigset_t set = watchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    watcher_ = std::thread([this] { watch(); });
}

SignalGuard::~SignalGuard() {
    stopping_ = true;
    // The signal is blocked everywhere, so it only wakes the watcher's sigwait.
    pthread_kill(watcher_.native_handle(), SIGINT);
    watcher_.join();
}

void SignalGuard::guardWorkingDirectory(const std::function<std::filesystem::path()>& make) {
    std::lock_guard lock(mutex_);
    workDir_ = make();
}

void SignalGuard::watch() {
    sigset_t set = watchedSignals();
    int signal = 0;
    while (sigwait(&set, &signal) != 0) {
    }
    if (stopping_)
        return;
    restoreTerminalEcho();
    std::lock_guard lock(mutex_);
    if (!workDir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(workDir_, ignored);
    }
    ::_exit(128 + signal);
}

} // namespace quorvane
