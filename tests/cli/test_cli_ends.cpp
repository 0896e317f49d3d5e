// However the tool ends, nothing of a run stays behind: a run killed outright
// leaves its working folder to the next run, which removes it (but never the
// folder of a run still going), and a signal in the middle of an extraction
// leaves no half-written file in the destination.

#include "tests/cli/CliFixture.h"

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace quorvane::clitest {
namespace {

namespace fs = std::filesystem;
using test::folderListing;

constexpr const char* Strace = "/usr/bin/strace";
constexpr const char* HiddenPrefix = ".quorvane-extract-";

// Waits until found() holds; a run that never gets there fails the test
// rather than hanging it.
bool waitFor(const std::function<bool()>& found) {
    for (int i = 0; i < 60000; ++i) {
        if (found())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

std::vector<std::string> namesStartingWith(const fs::path& folder, const std::string& prefix) {
    std::vector<std::string> names;
    for (const std::string& name : folderListing(folder))
        if (name.starts_with(prefix))
            names.push_back(name);
    return names;
}

TEST_F(CliTest, AKilledRunsFolderGoesAtTheNextRunAndALiveRunsFolderStays) {
    const fs::path safe = sealSafe({{"a.txt", "alpha"}});
    const fs::path added = box.writeFile("new.txt", "new");
    const std::vector<std::string> besideSafe = folderListing(safe.parent_path());

    // A run waiting for its password on a pipe: its folder is made and locked.
    const fs::path pipe = box.root() / "password-pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    RunOptions waiting;
    waiting.inputPath = pipe.string();
    const StartedRun live = box.start({"list", safe.string(), "--password-file", "-"}, waiting);
    const int writer = ::open(pipe.c_str(), O_WRONLY);
    // Under its final name once it is locked.
    ASSERT_TRUE(waitFor([&] { return namesStartingWith(box.tmp(), "quorvane-").size() == 1; }));
    const std::vector<std::string> liveFolder = folderListing(box.tmp());

    // Killed at the save's first fsync: the working copy is written in full,
    // the new safe file too.
    RunOptions killed;
    killed.wrapper = {Strace,        "-f",        "-qq",
                      "-o",          "/dev/null", "-e",
                      "trace=fsync", "-e",        "inject=fsync:signal=SIGKILL:when=1"};
    const RunResult run = cli({"add", safe.string(), added.string()}, killed);
    EXPECT_NE(run.exitCode, 0);
    std::vector<std::string> left = folderListing(box.tmp());
    ASSERT_EQ(left.size(), 2u) << "the killed run left its folder, the live one is there";
    std::erase(left, liveFolder[0]);
    EXPECT_EQ(folderListing(box.tmp() / left[0]), (std::vector<std::string>{"lock", "temp2"}));
    EXPECT_EQ(folderListing(safe.parent_path()), besideSafe) << "nothing beside the safe";

    const RunResult next = cli({"list", safe.string()});
    EXPECT_EQ(next.exitCode, 0) << next.err;
    EXPECT_EQ(folderListing(box.tmp()), liveFolder)
        << "the killed run's folder went, the live one stayed";

    const std::string password = std::string(Password) + "\n";
    EXPECT_EQ(::write(writer, password.data(), password.size()),
              static_cast<ssize_t>(password.size()));
    ::close(writer);
    const RunResult ended = CliSandbox::finish(live);
    EXPECT_EQ(ended.exitCode, 0) << ended.err;
    EXPECT_EQ(ended.out, "0\t5\ta.txt\n");
}

struct Ending {
    const char* what;
    int signal;
    bool fromFileSizeLimit; // the limit is lowered under the running tool (prlimit)
    int exitCode;
    std::vector<std::string> extracted;
};

TEST_F(CliTest, ASignalDuringAnExtractionLeavesNoHiddenFileAndNoWorkingFolder) {
    const fs::path safe = sealSafe(
        {{"a.bin", test::patternBytes(64 << 10, 1)}, {"b.bin", test::patternBytes(1 << 20, 2)}});
    const std::vector<Ending> endings = {
        {"SIGTERM", SIGTERM, false, 128 + SIGTERM, {}},
        {"SIGQUIT", SIGQUIT, false, 128 + SIGQUIT, {}},
        {"SIGHUP", SIGHUP, false, 128 + SIGHUP, {}},
        // a.bin is complete before the limit; b.bin's write then fails.
        {"SIGXFSZ (prlimit --fsize)", SIGXFSZ, true, 1, {"a.bin"}},
    };
    for (const Ending& ending : endings) {
        SCOPED_TRACE(ending.what);
        const fs::path out = box.files() / ("out-" + std::to_string(ending.signal));
        fs::create_directory(out);
        writeFile(out / "a.bin", "old a");
        writeFile(out / "b.bin", "old b");
        // Each file is written unnamed and, as it replaces one, gets its
        // hidden name only once it is complete; holding the tool just after
        // that call keeps the hidden file there while the signal comes.
        RunOptions slowed;
        slowed.wrapper = {Strace,         "-f",        "-qq",
                          "-o",           "/dev/null", "-e",
                          "trace=linkat", "-e",        "inject=linkat:delay_exit=1500000"};
        std::vector<std::string> args = {"extract",         safe.string(), out.string(),
                                         "--password-file", passwordFile,  "--overwrite"};
        const StartedRun started = box.start(args, slowed);
        // a.bin is written whole while its mode waits.
        const auto aWritten = [&] {
            const auto names = namesStartingWith(out, HiddenPrefix);
            std::error_code ignored;
            return !names.empty() && fs::file_size(out / names.front(), ignored) == 64u << 10;
        };
        ASSERT_TRUE(waitFor(aWritten));
        const std::string hidden = namesStartingWith(out, HiddenPrefix).front();
        const pid_t tool = std::stoi(hidden.substr(std::string(HiddenPrefix).size()));
        const int sent =
            ending.fromFileSizeLimit
                ? test::runProgram({"prlimit", "--pid", std::to_string(tool), "--fsize=4096"})
                : ::kill(tool, ending.signal);
        EXPECT_EQ(sent, 0);
        const RunResult run = CliSandbox::finish(started);
        EXPECT_EQ(run.exitCode, ending.exitCode) << run.err;
        EXPECT_EQ(contains(run.err, "File too large"), ending.fromFileSizeLimit) << run.err;
        EXPECT_EQ(folderListing(out), (std::vector<std::string>{"a.bin", "b.bin"}));
        EXPECT_EQ(readFile(out / "a.bin") != "old a", !ending.extracted.empty());
        EXPECT_EQ(readFile(out / "b.bin"), "old b");
        EXPECT_EQ(folderListing(box.tmp()), std::vector<std::string>{}) << "the working folder";
        fs::remove_all(out);
    }
}

// Killed outright (no handler runs) at the one moment an extracted file has
// a name other than its own: replacing a file, complete under its hidden
// name, just before the rename. The next start of the tool removes it;
// extracting under a new name, the file has no name at all before its own.
TEST_F(CliTest, AnExtractionKilledOutrightLeavesNoPlaintextAfterTheNextStart) {
    const std::string secret = "the stored secret, in plaintext";
    const fs::path safe = sealSafe({{"a.txt", secret}});
    struct Kill {
        const char* what;
        const char* call; // the call at which the tool is killed
        bool replacing;
    };
    for (const Kill& kill : {Kill{"replacing", "renameat", true}, Kill{"new", "linkat", false}}) {
        SCOPED_TRACE(kill.what);
        const fs::path out = box.files() / kill.what;
        fs::create_directory(out);
        if (kill.replacing)
            writeFile(out / "a.txt", "old a");
        RunOptions killed;
        killed.wrapper = {Strace,
                          "-f",
                          "-qq",
                          "-o",
                          "/dev/null",
                          "-e",
                          std::string("trace=") + kill.call,
                          "-e",
                          std::string("inject=") + kill.call + ":signal=SIGKILL:when=1"};
        const RunResult run = cli({"extract", safe.string(), out.string(), "--overwrite"}, killed);
        EXPECT_NE(run.exitCode, 0);
        const RunResult next = cli({"list", safe.string()});
        EXPECT_EQ(next.exitCode, 0) << next.err;
        EXPECT_EQ(folderListing(out),
                  kill.replacing ? std::vector<std::string>{"a.txt"} : std::vector<std::string>{});
        for (const std::string& name : folderListing(out))
            EXPECT_NE(readFile(out / name), secret) << name;
        EXPECT_EQ(folderListing(box.tmp()), std::vector<std::string>{}) << "the working folders";
    }
}

} // namespace
} // namespace quorvane::clitest
