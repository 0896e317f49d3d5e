#include "cli/PasswordInput.h"

#include "cli/CliTexts.h"
#include "lifecycle/SafeState.h"
#include "storage/files/UniqueFd.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <termios.h>
#include <unistd.h>

namespace quorvane {

namespace {

// A password source that gives no password is a usage error: the command
// line named it, or there is no terminal to ask.
CliFailure refusal(const std::string& why) {
    return {ExitCode::BadUsage, why};
}

// The terminal settings to put back; shared with the signal watcher's thread.
// The watcher's last call, on the way out, takes no lock: it reads the state
// only once it has stopped the reading thread, which may be stopped anywhere
// (holding a lock would then block the watcher). active is set before echo
// goes off and cleared after it is back on, so at every point where the
// reader can stop, active means saved is worth restoring.
// A job stop (Ctrl-Z) and its continuation leave the reader running: there
// the watcher and the reader take turns through the lock, so that echo never
// goes off again behind a reader that has just put it back.
struct EchoState {
    std::atomic<bool> active{false};
    std::atomic<int> fd{-1};
    std::atomic<int> promptFd{-1};
    std::atomic<const char*> prompt{nullptr};
    termios saved{};
    termios quiet{};
    std::mutex turning;
};

EchoState& echoState() {
    static EchoState state;
    return state;
}

// The longest first line a password can come in: 249 bytes and "\r\n".
constexpr std::size_t LongestLine = PasswordLimit + 2;

enum class LineEnd { Newline, EndOfInput, ReadError, TooLong };

ssize_t readSome(int fd, char* buffer, std::size_t size) {
    for (;;) {
        ssize_t got = ::read(fd, buffer, size);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

// Reads the first line of a file or of standard input in blocks, and never
// more than LongestLine bytes: a source without a line end (/dev/zero, a large
// file named by mistake) is refused there instead of read to its end. Where
// the source can seek, what was read past the line is given back, so that
// standard input from a file is left just after the password's line.
LineEnd readFirstLine(int fd, std::string& line) {
    char buffer[LongestLine];
    std::size_t held = 0;
    while (held < LongestLine) {
        ssize_t got = readSome(fd, buffer + held, LongestLine - held);
        if (got < 0)
            return LineEnd::ReadError;
        if (got == 0) {
            line.assign(buffer, held);
            return LineEnd::EndOfInput;
        }
        const auto* newline = static_cast<const char*>(
            std::memchr(buffer + held, '\n', static_cast<std::size_t>(got)));
        held += static_cast<std::size_t>(got);
        if (newline != nullptr) {
            const std::size_t length = static_cast<std::size_t>(newline - buffer);
            line.assign(buffer, length);
            ::lseek(fd, -static_cast<off_t>(held - length - 1), SEEK_CUR);
            return LineEnd::Newline;
        }
    }
    return LineEnd::TooLong;
}

// Reads one typed line in blocks (a terminal hands over at most a line per
// read) and keeps its first LongestLine bytes. Unlike a file, the line is
// read to its end however long it is: what stayed unread would go to the
// shell once the tool ends, to be run as a command.
LineEnd readTypedLine(int fd, std::string& line, std::size_t& total) {
    line.clear();
    total = 0;
    for (;;) {
        char block[512];
        ssize_t got = readSome(fd, block, sizeof block);
        if (got < 0)
            return LineEnd::ReadError;
        if (got == 0)
            return LineEnd::EndOfInput;
        const auto* newline =
            static_cast<const char*>(std::memchr(block, '\n', static_cast<std::size_t>(got)));
        const std::size_t taken = newline != nullptr ? static_cast<std::size_t>(newline - block)
                                                     : static_cast<std::size_t>(got);
        line.append(block, std::min(taken, LongestLine - line.size()));
        total += taken;
        if (newline != nullptr)
            return LineEnd::Newline;
    }
}

// A line longer than LongestLine was cut there; one that long is refused
// below in any case, since at most one "\r" is dropped from it.
CliResult<std::string> finishPassword(std::string& line, const std::string& tooLong) {
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.size() > PasswordLimit)
        return refusal(tooLong);
    if (line.find('\0') != std::string::npos)
        return refusal(clitext::PasswordHasNul);
    return line;
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

bool echoOff(int fd, int promptFd, const char* prompt) {
    EchoState& state = echoState();
    std::lock_guard lock(state.turning);
    if (::tcgetattr(fd, &state.saved) != 0)
        return false;
    state.quiet = state.saved;
    state.quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    state.fd = fd;
    state.promptFd = promptFd;
    state.prompt = prompt;
    state.active = true;
    if (::tcsetattr(fd, TCSAFLUSH, &state.quiet) != 0) {
        state.active = false;
        return false;
    }
    return true;
}

void echoBackOn() {
    std::lock_guard lock(echoState().turning);
    restoreTerminalEcho();
}

// Echo goes off before the prompt shows: whatever is typed after the prompt
// is then never echoed, nor thrown away by the switch. The prompt goes to
// promptFd, the line is read from fd.
CliResult<std::string> readTypedPassword(int fd, int promptFd, const char* prompt) {
    if (!echoOff(fd, promptFd, prompt))
        return refusal(clitext::NoTerminal);
    writeAll(promptFd, prompt);
    std::string line;
    std::size_t total = 0;
    LineEnd end = readTypedLine(fd, line, total);
    echoBackOn();
    writeAll(promptFd, "\n");
    if (end != LineEnd::Newline && total == 0)
        return refusal("no password given");
    return finishPassword(line, clitext::PasswordTooLong);
}

// Whether the controlling terminal opened as tty.
bool isTerminal(const UniqueFd& tty) {
    return tty.get() >= 0 && ::isatty(tty.get());
}

} // namespace

void restoreTerminalEcho() {
    EchoState& state = echoState();
    if (!state.active)
        return;
    ::tcsetattr(state.fd, TCSANOW, &state.saved);
    state.active = false;
}

CliResult<std::string> readPasswordFile(const std::string& path) {
    const bool fromStdin = path == "-";
    const std::string source = fromStdin ? clitext::StandardInput : path;
    // Standard input stays open: it is not ours to close.
    const UniqueFd opened(fromStdin ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    const int file = fromStdin ? STDIN_FILENO : opened.get();
    if (file < 0)
        return refusal(source + ": " + std::strerror(errno));
    std::string line;
    std::size_t total = 0;
    // Standard input may be the terminal itself, and a line typed there is
    // read to its end, as at the prompt.
    const LineEnd end =
        ::isatty(file) ? readTypedLine(file, line, total) : readFirstLine(file, line);
    if (end == LineEnd::ReadError)
        return refusal(source + ": " + std::strerror(errno));
    if (end == LineEnd::TooLong)
        return refusal(clitext::firstLineTooLong(source));
    return finishPassword(line, clitext::firstLineTooLong(source));
}

CliResult<std::string> readTerminalPassword(const char* prompt) {
    const UniqueFd tty(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!isTerminal(tty))
        return refusal(clitext::NoTerminal);
    return readTypedPassword(tty.get(), tty.get(), prompt);
}

bool standardInputIsTerminal() {
    return ::isatty(STDIN_FILENO) == 1;
}

CliResult<std::string> readStandardInputPassword(const char* prompt) {
    // A shell opens the terminal for reading and writing and hands it on as
    // standard input; one opened for reading only gets the prompt on
    // standard error, which shows on a terminal as well.
    const int flags = ::fcntl(STDIN_FILENO, F_GETFL);
    const int promptFd = flags >= 0 && (flags & O_ACCMODE) == O_RDWR ? STDIN_FILENO : STDERR_FILENO;
    return readTypedPassword(STDIN_FILENO, promptFd, prompt);
}

void giveTerminalBackForStop() {
    EchoState& state = echoState();
    std::lock_guard lock(state.turning);
    if (state.active)
        ::tcsetattr(state.fd, TCSANOW, &state.saved);
}

void takeTerminalAgainAfterStop(bool showPrompt) {
    EchoState& state = echoState();
    std::lock_guard lock(state.turning);
    // In the background (bg) the terminal is not ours to set: the read stops
    // the job again (SIGTTIN) until it comes to the foreground.
    if (!state.active || ::tcgetpgrp(state.fd) != ::getpgrp())
        return;
    ::tcsetattr(state.fd, TCSANOW, &state.quiet);
    if (showPrompt)
        writeAll(state.promptFd, state.prompt.load());
}

CliResult<std::string> readTerminalAnswer(const char* prompt) {
    const UniqueFd tty(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!isTerminal(tty))
        return refusal(clitext::NoTerminal);
    writeAll(tty.get(), prompt);
    std::string answer;
    std::size_t total = 0;
    readTypedLine(tty.get(), answer, total);
    if (!answer.empty() && answer.back() == '\r')
        answer.pop_back();
    return answer;
}

} // namespace quorvane
