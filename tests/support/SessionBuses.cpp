#include "tests/support/SessionBuses.h"

#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quorvane::test {

namespace {

// The mocks take a few seconds to start on a busy machine, never this long.
constexpr int AnswerWaitMilliseconds = 60'000;

} // namespace

SessionBuses::SessionBuses() {
    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
        return;
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        const std::string script = QUORVANE_SOURCE_DIR "/tests/support/session_buses.py";
        // sys.executable follows argv[0]: the mocks must run on the same Python.
        ::execl("/usr/bin/python3", "/usr/bin/python3", script.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    toScript_ = in[1];
    fromScript_ = out[0];
    const std::string ready = readLine();
    const auto first = ready.find(' ');
    const auto second = ready.find(' ', first + 1);
    if (ready.rfind("ready ", 0) != 0 || second == std::string::npos)
        return;
    systemAddress_ = ready.substr(first + 1, second - first - 1);
    sessionAddress_ = ready.substr(second + 1);
}

SessionBuses::~SessionBuses() {
    if (toScript_ >= 0)
        ::close(toScript_); // the script ends its mocks and buses at the end of its input
    if (fromScript_ >= 0)
        ::close(fromScript_);
    if (pid_ > 0) {
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
}

void SessionBuses::useInThisProcess() const {
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", systemAddress_.c_str(), 1);
    ::setenv("DBUS_SESSION_BUS_ADDRESS", sessionAddress_.c_str(), 1);
}

std::string SessionBuses::readLine() {
    for (;;) {
        const auto end = buffered_.find('\n');
        if (end != std::string::npos) {
            std::string line = buffered_.substr(0, end);
            buffered_.erase(0, end + 1);
            return line;
        }
        pollfd wait{fromScript_, POLLIN, 0};
        if (::poll(&wait, 1, AnswerWaitMilliseconds) <= 0)
            return {};
        char chunk[512];
        const ssize_t got = ::read(fromScript_, chunk, sizeof chunk);
        if (got <= 0)
            return {};
        buffered_.append(chunk, static_cast<std::size_t>(got));
    }
}

std::string SessionBuses::send(const std::string& command) {
    const std::string line = command + "\n";
    if (::write(toScript_, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        return {};
    return readLine();
}

} // namespace quorvane::test
