#include "cli/PasswordInput.h"

#include "cli/CliTexts.h"
#include "lifecycle/SafeState.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace quorvane {

namespace {

// The terminal settings to put back; shared with the signal watcher's thread.
// No lock: the watcher reads it only once it has stopped the reading thread,
// which may be stopped anywhere (holding a lock would then block the watcher).
// active is set before echo goes off and cleared after it is back on, so at
// every point where the reader can stop, active means saved is worth restoring.
struct EchoState {
    std::atomic<bool> active{false};
    std::atomic<int> fd{-1};
    termios saved{};
};

EchoState& echoState() {
    static EchoState state;
    return state;
}

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd, bool owned) : fd_(fd), owned_(owned) {}
    ~FileDescriptor() {
        if (owned_ && fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
    bool owned_;
};

enum class LineEnd { Newline, EndOfInput, ReadError };

// Reads up to the first newline one byte at a time, so that nothing after the
// line is consumed. Keeps only what could still be a password of legal length.
LineEnd readLine(int fd, std::string& line, std::size_t& total) {
    const std::size_t keep = PasswordLimit + 2; // room for a "\r" to drop
    line.clear();
    total = 0;
    for (;;) {
        char byte = 0;
        ssize_t got = ::read(fd, &byte, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return LineEnd::ReadError;
        if (got == 0)
            return LineEnd::EndOfInput;
        if (byte == '\n')
            return LineEnd::Newline;
        if (line.size() < keep)
            line.push_back(byte);
        ++total;
    }
}

bool finishPassword(std::string& line, std::size_t total, std::string& password,
                    std::string& error) {
    if (total <= line.size() && !line.empty() && line.back() == '\r') {
        line.pop_back();
        --total;
    }
    if (total > PasswordLimit) {
        error = clitext::PasswordTooLong;
        return false;
    }
    if (line.find('\0') != std::string::npos) {
        error = clitext::PasswordHasNul;
        return false;
    }
    password = line;
    return true;
}

void writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        done += static_cast<std::size_t>(written);
    }
}

bool echoOff(int fd) {
    EchoState& state = echoState();
    if (::tcgetattr(fd, &state.saved) != 0)
        return false;
    termios quiet = state.saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    state.fd = fd;
    state.active = true;
    if (::tcsetattr(fd, TCSAFLUSH, &quiet) != 0) {
        state.active = false;
        return false;
    }
    return true;
}

} // namespace

void restoreTerminalEcho() {
    EchoState& state = echoState();
    if (!state.active)
        return;
    ::tcsetattr(state.fd, TCSANOW, &state.saved);
    state.active = false;
}

bool readPasswordFile(const std::string& path, std::string& password, std::string& error) {
    const bool fromStdin = path == "-";
    FileDescriptor file(fromStdin ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC),
                        !fromStdin);
    if (file.get() < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    std::string line;
    std::size_t total = 0;
    if (readLine(file.get(), line, total) == LineEnd::ReadError) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    return finishPassword(line, total, password, error);
}

bool readTerminalPassword(const char* prompt, std::string& password, std::string& error) {
    FileDescriptor tty(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC), true);
    if (tty.get() < 0 || !::isatty(tty.get())) {
        error = clitext::NoTerminal;
        return false;
    }
    // Echo goes off before the prompt shows: whatever is typed after the
    // prompt is then never echoed, nor thrown away by the switch.
    if (!echoOff(tty.get())) {
        error = clitext::NoTerminal;
        return false;
    }
    writeAll(tty.get(), prompt);
    std::string line;
    std::size_t total = 0;
    LineEnd end = readLine(tty.get(), line, total);
    restoreTerminalEcho();
    writeAll(tty.get(), "\n");
    if (end != LineEnd::Newline && total == 0) {
        error = "no password given";
        return false;
    }
    return finishPassword(line, total, password, error);
}

} // namespace quorvane
