#pragma once

#include <filesystem>
#include <functional>
#include <mutex>
#include <pthread.h>
#include <thread>

namespace quorvane {

// While it lives, no signal that would end the process (an interrupt,
// hang-up, quit, termination, a file size limit sent from outside: see
// EndingSignals) leaves plaintext behind: a watcher thread first stops the
// thread that made the guard (so that no working file can appear while it
// cleans up), then puts the terminal's echo back, removes the unfinished file
// of an extraction or a save, removes the private working directory and ends
// the process with 128 + the signal's number. A file size limit reached by our
// own write stays blocked on the writing thread: the write fails (EFBIG) and
// is reported like any other failed write. The safe file needs no
// care: it is only ever replaced by a rename, so it holds the old or the new
// safe at any moment. A job stop (Ctrl-Z) at a password prompt gives the
// shell its terminal back with echo on, and echo goes off again when the job
// is continued in the foreground.
// Construct it first thing, on the thread that does the work (it sets the
// signal mask that later threads inherit); one guard per process.
class SignalGuard {
  public:
    SignalGuard();
    ~SignalGuard();
    SignalGuard(const SignalGuard&) = delete;
    SignalGuard& operator=(const SignalGuard&) = delete;

    // Runs make, which creates the working directory and returns its path, so
    // that no signal can be handled between the creation and the guarding.
    void guardWorkingDirectory(const std::function<std::filesystem::path()>& make);

    // Called between steps: once a signal has come, the work must not go on
    // (a Ctrl-C at a prompt also ends the line being read), so the calling
    // thread waits here for the watcher to end the process.
    void stopHereIfSignalled();

    // While a handler is set, an ending signal is first offered to it (on the
    // watcher's thread); one it takes (returns true for) ends nothing. The
    // mounted folder takes Ctrl-C and SIGTERM this way, to unmount and save.
    void divert(std::function<bool(int)> handler);

  private:
    void watch();
    bool takenByDiversion(int signal);
    void handle(int signal);

    std::mutex divertMutex_;
    std::function<bool(int)> diverted_;
    std::mutex mutex_; // held while the directory is made and while it is removed
    std::filesystem::path workDir_;
    pthread_t worker_;
    std::thread watcher_;
};

} // namespace quorvane
