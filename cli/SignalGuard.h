#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

namespace quorvane {

// While it lives, an interrupt, hang-up, quit or termination signal does not
// leave plaintext behind: a watcher thread puts the terminal's echo back,
// removes the private working directory and ends the process with 128 + the
// signal's number. The safe file needs no care: it is only ever replaced by
// a rename, so it holds the old or the new safe at any moment.
// Construct it first thing (it sets the signal mask that later threads inherit).
class SignalGuard {
  public:
    SignalGuard();
    ~SignalGuard();
    SignalGuard(const SignalGuard&) = delete;
    SignalGuard& operator=(const SignalGuard&) = delete;

    // Runs make, which creates the working directory and returns its path, so
    // that no signal can be handled between the creation and the guarding.
    void guardWorkingDirectory(const std::function<std::filesystem::path()>& make);

  private:
    void watch();

    std::mutex mutex_; // held while the directory is made and while it is removed
    std::filesystem::path workDir_;
    std::atomic<bool> stopping_{false};
    std::thread watcher_;
};

} // namespace quorvane
