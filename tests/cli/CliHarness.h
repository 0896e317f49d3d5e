#pragma once

// Runs the built quorvane-cli in child processes, the way a script or a person
// at a terminal does, inside a sandbox folder of its own.

#include "tests/support/TestFiles.h"

#include <filesystem>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace quorvane::clitest {

struct RunResult {
    int exitCode = -1; // -1: the child did not exit normally
    std::string out;
    std::string err;
};

struct TerminalRun {
    int exitCode = -1;
    std::string transcript; // everything the terminal showed
    bool echoAtEnd = false; // whether the terminal echoed input when the tool had ended
};

struct RunOptions {
    std::string input;                     // standard input
    std::optional<std::string> inputPath;  // standard input from this file instead
    std::optional<std::string> outputPath; // standard output to this file ("/dev/full") instead
    // Standard output a pipe whose reader has gone, as after "| head" has ended.
    bool outputReaderGone = false;
    // A tool that never ends is killed (SIGALRM) after this long, so that the test fails.
    std::optional<unsigned> killAfterSeconds;
    std::optional<rlim_t> fileSizeLimit; // RLIMIT_FSIZE of the child
    std::optional<std::string> tmpDir;   // TMPDIR other than the sandbox's
    // Variables set (or, without a value, removed) for the tool.
    std::vector<std::pair<std::string, std::optional<std::string>>> environment;
    // The tool runs under this command (a tracer that injects faults, say);
    // its first word is a full path.
    std::vector<std::string> wrapper;
};

// One turn with an interactive shell: once the transcript shows awaited for
// the occurrence-th time, typed is typed.
struct ShellTurn {
    std::string awaited;
    std::size_t occurrence = 1;
    std::string typed;
};

// A run of the tool that goes on while the test acts on it.
struct StartedRun {
    pid_t pid = -1; // the child: the tool, or its wrapper
    std::filesystem::path out;
    std::filesystem::path err;
};

// A private folder with three parts: "tmp" (the child's TMPDIR), "cwd" (its
// working folder) and "files" (what the test prepares). Removed afterwards.
class CliSandbox {
  public:
    CliSandbox();
    ~CliSandbox();
    CliSandbox(const CliSandbox&) = delete;
    CliSandbox& operator=(const CliSandbox&) = delete;

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path tmp() const { return root_ / "tmp"; }
    std::filesystem::path cwd() const { return root_ / "cwd"; }
    std::filesystem::path files() const { return root_ / "files"; }

    // Writes bytes into files()/name and returns the path.
    std::filesystem::path writeFile(const std::string& name, const std::string& bytes) const;
    // A password file holding the password and a newline.
    std::filesystem::path passwordFile(const std::string& password) const;

    // Runs the tool without a controlling terminal (so it can never ask one).
    RunResult run(const std::vector<std::string>& args, const RunOptions& options = {}) const;
    // The same in two halves: start returns at once, finish waits for the end.
    StartedRun start(const std::vector<std::string>& args, const RunOptions& options = {}) const;
    static RunResult finish(const StartedRun& started);
    // Runs the tool on a pseudo-terminal and types one line after each
    // password prompt, [y/N] question and question about a file an
    // extraction meets that it shows ("\x03" is Ctrl-C, as
    // a person types it).
    TerminalRun runOnTerminal(const std::vector<std::string>& args,
                              const std::vector<std::string>& typedLines) const;

    // Runs an interactive bash (no start-up files, prompt "$ ") on a
    // pseudo-terminal, in cwd() with TMPDIR at tmp(), as a person with job
    // control at hand: the turns in order; the last one ends the shell.
    TerminalRun runShellOnTerminal(const std::vector<ShellTurn>& turns) const;

    // Names of whatever is left in tmp() and cwd(), for "nothing left behind".
    std::vector<std::string> leftovers() const;

  private:
    std::filesystem::path root_;
};

using test::readFile;
using test::runProgram;
using test::writeFile;

// Every path below folder (recursively), relative to it, sorted.
std::vector<std::string> treeOf(const std::filesystem::path& folder);

const char* cliBinary();

} // namespace quorvane::clitest
