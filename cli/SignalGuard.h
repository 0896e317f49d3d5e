#pragma once

#include <atomic>
#include <filesystem>
#include <thread>

namespace quorvane {

// While it lives, an interrupt, hang-up, quit or termination signal does not
// leave plaintext behind: a watcher thread puts the terminal's echo back,
// removes the private working directory and ends the process with 128 + the
// signal's number. The safe file needs no care: it is only ever replaced by
// a rename, so it holds the old or the new safe at any moment.
// Construct it before any other thread exists (it sets the signal mask that
// later threads inherit).
class SignalGuard {
  public:
    explicit SignalGuard(std::filesystem::path workDir);
    ~SignalGuard();
    SignalGuard(const SignalGuard&) = delete;
    SignalGuard& operator=(const SignalGuard&) = delete;

  private:
    void watch();

    std::filesystem::path workDir_;
    std::atomic<bool> stopping_{false};
    std::thread watcher_;
};

} // namespace quorvane
