#include "tests/cli/CliHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace quorvane::clitest {

namespace fs = std::filesystem;

namespace {

std::vector<char*> argvOf(std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    return argv;
}

// In the child, before exec: only what is async-signal-safe enough for a
// freshly forked single-threaded test process.
void prepareChild(const CliSandbox& box) {
    if (::chdir(box.cwd().c_str()) != 0)
        ::_exit(126);
    ::setenv("TMPDIR", box.tmp().c_str(), 1);
    // The tool must work with no display at all.
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
}

int exitStatusOf(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

const char* cliBinary() {
    return QUORVANE_CLI_BINARY;
}

std::vector<std::string> treeOf(const fs::path& folder) {
    std::vector<std::string> paths;
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(folder, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored))
        paths.push_back(it->path().lexically_relative(folder).string());
    std::sort(paths.begin(), paths.end());
    return paths;
}

CliSandbox::CliSandbox() {
    std::string pattern = (fs::temp_directory_path() / "quorvane-cli-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    for (const auto& part : {tmp(), cwd(), files(), root_ / "io"})
        fs::create_directory(part);
}

CliSandbox::~CliSandbox() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

fs::path CliSandbox::writeFile(const std::string& name, const std::string& bytes) const {
    fs::path path = files() / name;
    test::writeFile(path, bytes);
    return path;
}

fs::path CliSandbox::passwordFile(const std::string& password) const {
    static int counter = 0;
    return writeFile("password-" + std::to_string(++counter), password + "\n");
}

RunResult CliSandbox::run(const std::vector<std::string>& args, const RunOptions& options) const {
    return finish(start(args, options));
}

StartedRun CliSandbox::start(const std::vector<std::string>& args,
                             const RunOptions& options) const {
    // Numbered, so that runs at the same time (from several threads) keep apart.
    static std::atomic<int> runs{0};
    const std::string number = std::to_string(++runs);
    const fs::path in = root_ / "io" / ("stdin-" + number);
    const fs::path out = root_ / "io" / ("stdout-" + number);
    const fs::path err = root_ / "io" / ("stderr-" + number);
    test::writeFile(in, options.input);

    std::vector<std::string> command = options.wrapper;
    command.push_back(cliBinary());
    command.insert(command.end(), args.begin(), args.end());
    // The leak checker cannot run under a tracer; the other checks can.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string tracedAsanOptions = std::string(asan ? asan : "") + ":detect_leaks=0";
    pid_t pid = ::fork();
    if (pid == 0) {
        // A session of its own: no controlling terminal, so /dev/tty cannot open.
        ::setsid();
        int inFd = ::open(options.inputPath.value_or(in.string()).c_str(), O_RDONLY);
        int outFd = ::open(options.outputPath.value_or(out.string()).c_str(),
                           O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int pipeEnds[2];
        if (options.outputReaderGone && ::pipe(pipeEnds) == 0) {
            ::close(pipeEnds[0]);
            outFd = pipeEnds[1];
        }
        int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (inFd < 0 || outFd < 0 || errFd < 0)
            ::_exit(126);
        ::dup2(inFd, STDIN_FILENO);
        ::dup2(outFd, STDOUT_FILENO);
        ::dup2(errFd, STDERR_FILENO);
        prepareChild(*this);
        if (options.tmpDir)
            ::setenv("TMPDIR", options.tmpDir->c_str(), 1);
        if (!options.wrapper.empty())
            ::setenv("ASAN_OPTIONS", tracedAsanOptions.c_str(), 1);
        for (const auto& [name, value] : options.environment)
            value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
        if (options.fileSizeLimit) {
            rlimit limit{*options.fileSizeLimit, *options.fileSizeLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (options.killAfterSeconds)
            ::alarm(*options.killAfterSeconds); // a pending alarm survives exec
        ::execv(command[0].c_str(), argvOf(command).data());
        ::_exit(127);
    }
    return {pid, out, err};
}

RunResult CliSandbox::finish(const StartedRun& started) {
    int status = 0;
    ::waitpid(started.pid, &status, 0);
    RunResult result;
    result.exitCode = exitStatusOf(status);
    result.out = readFile(started.out);
    result.err = readFile(started.err);
    return result;
}

namespace {

std::size_t countOf(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size())
        ++count;
    return count;
}

// Runs command on a pseudo-terminal until it closes the terminal. After each
// read, reply(transcript, n) gives the n-th input once it is due.
using Reply = std::function<std::optional<std::string>(const std::string&, std::size_t)>;

TerminalRun runOnPseudoTerminal(const CliSandbox& box, std::vector<std::string> command,
                                const Reply& reply) {
    int master = -1;
    pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        prepareChild(box);
        ::setenv("PS1", "$ ", 1); // for a shell
        ::execv(command[0].c_str(), argvOf(command).data());
        ::_exit(127);
    }
    TerminalRun run;
    std::size_t typed = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
        pollfd waiting{master, POLLIN, 0};
        if (::poll(&waiting, 1, 100) > 0) {
            char buffer[4096];
            ssize_t got = ::read(master, buffer, sizeof buffer);
            if (got <= 0)
                break; // EIO: the program has ended and closed the terminal
            run.transcript.append(buffer, static_cast<std::size_t>(got));
        }
        while (std::optional<std::string> input = reply(run.transcript, typed)) {
            ++typed;
            if (::write(master, input->data(), input->size()) < 0)
                break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ADD_FAILURE() << "the program did not end on the terminal; transcript:\n"
                          << run.transcript;
            break;
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    termios settings{};
    run.echoAtEnd = ::tcgetattr(master, &settings) == 0 && (settings.c_lflag & ECHO) != 0;
    ::close(master);
    run.exitCode = exitStatusOf(status);
    return run;
}

} // namespace

TerminalRun CliSandbox::runOnTerminal(const std::vector<std::string>& args,
                                      const std::vector<std::string>& typedLines) const {
    std::vector<std::string> command{cliBinary()};
    command.insert(command.end(), args.begin(), args.end());
    // Every prompt of the tool ends in "password: ", "[y/N] " or, for a file
    // an extraction meets, "the same for all] "; one line answers each.
    return runOnPseudoTerminal(*this, command, [&](const std::string& shown, std::size_t n) {
        const std::size_t prompts = countOf(shown, "word: ") + countOf(shown, "[y/N] ") +
                                    countOf(shown, "the same for all] ");
        return n < prompts && n < typedLines.size() ? std::optional(typedLines[n] + "\n")
                                                    : std::nullopt;
    });
}

TerminalRun CliSandbox::runShellOnTerminal(const std::vector<ShellTurn>& turns) const {
    return runOnPseudoTerminal(
        *this, {"/bin/bash", "--norc", "--noprofile", "-i"},
        [&](const std::string& shown, std::size_t n) -> std::optional<std::string> {
            if (n < turns.size() && countOf(shown, turns[n].awaited) >= turns[n].occurrence)
                return turns[n].typed;
            return std::nullopt;
        });
}

std::vector<std::string> CliSandbox::leftovers() const {
    std::vector<std::string> left;
    for (const auto& folder : {tmp(), cwd()})
        for (const auto& name : treeOf(folder))
            left.push_back((folder.filename() / name).string());
    return left;
}

} // namespace quorvane::clitest
