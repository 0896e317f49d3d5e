// Safes from anywhere and a world that fails: hostile names never lead outside
// the chosen folder, damaged containers end in a message and not a crash, a
// failed write leaves the safe file as it was, and nothing is left behind.

#include "tests/cli/CliFixture.h"

#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

namespace quorvane::clitest {
namespace {

namespace fs = std::filesystem;

class CliHostile : public CliTest {
  protected:
    // The whole sandbox but the folder a test lets the tool write into.
    std::vector<std::string> treeOutside(const std::string& allowed) const {
        std::vector<std::string> tree;
        for (const auto& path : treeOf(box.root()))
            if (path.rfind(allowed, 0) != 0 && path.rfind("io", 0) != 0)
                tree.push_back(path);
        return tree;
    }
};

TEST_F(CliHostile, HostileNamesNeverLeadOutsideTheFolder) {
    const std::string absolute = (box.root() / "absolute.txt").string();
    ASSERT_LE(absolute.size(), 50u) << "the sandbox path is too long for a stored name";
    auto victim = box.writeFile("victim.txt", "must stay");
    auto safe = sealSafe({
        {"../escape.txt", "up"},
        {"../../far.txt", "further up"},
        {"..", "dotdot"},
        {".", "dot"},
        {"", "empty name"},
        {absolute, "absolute"},
        {"sub/inner.txt", "nested"},
        {"ok.txt", "fine"},
        {"link", "through a link"},
        {"folder", "over a folder"},
    });
    const fs::path out = file("out");
    fs::create_directory(out);
    fs::create_symlink(victim, out / "link");
    fs::create_directory(out / "folder");
    const auto before = treeOutside("files/out");

    RunResult run = cli({"extract", safe.string(), out.string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(contains(run.err, "../escape.txt")) << run.err;
    EXPECT_TRUE(contains(run.err, "sub/inner.txt")) << run.err;
    EXPECT_FALSE(contains(run.err, "ok.txt")) << run.err;

    EXPECT_EQ(treeOutside("files/out"), before);
    EXPECT_EQ(treeOf(out), (std::vector<std::string>{"folder", "link", "ok.txt"}));
    EXPECT_EQ(readFile(out / "ok.txt"), "fine");
    EXPECT_TRUE(fs::is_symlink(out / "link"));
    EXPECT_EQ(readFile(victim), "must stay");
    EXPECT_FALSE(fs::exists(absolute));
}

TEST_F(CliHostile, NumberedExtractOfAHostileNameSkipsOnlyThatOne) {
    auto safe = sealSafe({{"../up.txt", "up"}, {"fine.txt", "fine"}});
    fs::create_directory(file("out"));
    RunResult run = cli({"extract", safe.string(), file("out").string(), "0", "1"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(treeOf(file("out")), std::vector<std::string>{"fine.txt"});
    EXPECT_FALSE(fs::exists(box.files() / "up.txt"));
}

TEST_F(CliHostile, DamagedContainersEndInAnExitCodeNotACrash) {
    const std::string good = containerBytes({{"a.txt", "alpha"}, {"b.txt", "beta"}});
    auto patched = [&](std::size_t at, std::uint32_t value) {
        std::string bytes = good;
        bytes.replace(at, 4, le32(value));
        return bytes;
    };
    const std::vector<std::pair<std::string, std::string>> damaged = {
        {"huge count", patched(0, 0xFFFFFFFF)},
        {"index past the end", patched(8, 0xFFFFFFF0)},
        {"index at the end", patched(8, static_cast<std::uint32_t>(good.size()))},
        {"entry offset past the end", patched(good.size() - 4, 0x7FFFFFFF)},
        {"size far beyond the file", patched(12 + 50, 0xFFFFFFFF)},
        {"short header", good.substr(0, 5)},
        {"nothing at all", ""},
        {"zeros", std::string(100, '\0')},
        {"count without rows", le32(3) + le32(2) + le32(12)},
    };
    int n = 0;
    for (const auto& [what, container] : damaged) {
        auto safe = file("damaged" + std::to_string(n) + ".cx");
        const fs::path out = file("out" + std::to_string(n++));
        fs::create_directory(out);
        opensslSeal(box, container, Password, FixedIv, safe);
        const auto before = treeOutside(fs::relative(out, box.root()).string());
        RunResult listed = cli({"list", safe.string()});
        EXPECT_TRUE(listed.exitCode == 0 || listed.exitCode == 1) << what << ": " << listed.err;
        RunResult extracted = cli({"extract", safe.string(), out.string()});
        EXPECT_TRUE(extracted.exitCode == 0 || extracted.exitCode == 1)
            << what << ": " << extracted.err;
        EXPECT_EQ(treeOutside(fs::relative(out, box.root()).string()), before) << what;
        // Every line of the list is still one entry of three fields.
        for (std::size_t at = 0, end; (end = listed.out.find('\n', at)) != std::string::npos;
             at = end + 1) {
            std::string line = listed.out.substr(at, end - at);
            EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 2) << what << ": " << line;
        }
    }
}

TEST_F(CliHostile, ADamagedSafeSaysThatItsListIsIncomplete) {
    std::string container = containerBytes({{"a.txt", "alpha"}, {"b.txt", "beta"}});
    container.replace(12 + 50 + 8 + 5 + 50, 4, le32(1000000)); // b claims more than the file holds
    auto safe = file("liar.cx");
    opensslSeal(box, container, Password, FixedIv, safe);
    RunResult listed = cli({"list", safe.string()});
    EXPECT_EQ(listed.exitCode, 1);
    EXPECT_EQ(listed.out, "0\t5\ta.txt\n");
    EXPECT_EQ(listed.err,
              "quorvane-cli: The safe is damaged: entries from number 1 on could not be read.\n");
    fs::create_directory(file("out"));
    RunResult extracted = cli({"extract", safe.string(), file("out").string()});
    EXPECT_EQ(extracted.exitCode, 1);
    EXPECT_EQ(readFile(file("out/a.txt")), "alpha");
}

// The tool's file-size limit is set so that the working copy fits and the new
// safe (always longer by its IV and padding) does not.
// A disk that fails the new safe file: its fsync (the first of the run; the
// working copy never asks for one) reports an I/O error.
RunOptions failingSafeSync() {
    RunOptions options;
    options.wrapper = {"/usr/bin/strace",
                       "-f",
                       "-qq",
                       "-o",
                       "/dev/null",
                       "-e",
                       "trace=fsync",
                       "-e",
                       "inject=fsync:error=EIO:when=1"};
    return options;
}

TEST_F(CliHostile, AFailedSaveLeavesTheSafeAsItWasAndTheOriginalsInPlace) {
    auto safe = file("s.cx");
    ASSERT_EQ(cli({"create", safe.string()}).exitCode, 0);
    const std::string before = readFile(safe);
    const std::size_t size = 100000;
    auto original = box.writeFile("big.bin", std::string(size, 'b'));
    const auto filesBefore = treeOf(box.files());

    RunResult run =
        cli({"add", safe.string(), original.string(), "--erase-originals"}, failingSafeSync());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(contains(run.err, "quorvane-cli: Failed to Save file!\n")) << run.err;
    EXPECT_EQ(readFile(safe), before);
    EXPECT_EQ(readFile(original), std::string(size, 'b'));
    EXPECT_EQ(treeOf(box.files()), filesBefore); // no half-written file beside the safe

    // Without the limit the same add works.
    EXPECT_EQ(cli({"add", safe.string(), original.string()}).exitCode, 0);
    EXPECT_EQ(listOf(safe), "0\t100000\tbig.bin\n");
}

TEST_F(CliHostile, AFailedSaveOfARenameOrDeleteLeavesTheSafeAsItWas) {
    auto safe = sealSafe({{"a.txt", std::string(1000, 'a')}, {"b.txt", "beta"}});
    const std::string before = readFile(safe);
    RunResult renamed = cli({"rename", safe.string(), "1", "renamed"}, failingSafeSync());
    EXPECT_EQ(renamed.exitCode, 1);
    EXPECT_TRUE(contains(renamed.err, "Failed to Save file!")) << renamed.err;
    EXPECT_EQ(readFile(safe), before);

    RunResult deleted = cli({"delete", safe.string(), "1"}, failingSafeSync());
    EXPECT_NE(deleted.exitCode, 0);
    EXPECT_EQ(readFile(safe), before);

    // A new password that did not reach the safe is not announced as changed.
    RunResult changed =
        cli({"passwd", safe.string(), "--new-password-file", box.passwordFile("fresh").string()},
            failingSafeSync());
    EXPECT_EQ(changed.exitCode, 1);
    EXPECT_FALSE(contains(changed.err, "has been changed")) << changed.err;
    EXPECT_EQ(readFile(safe), before);
    EXPECT_EQ(listOf(safe), "0\t1000\ta.txt\n1\t4\tb.txt\n");
}

// Every command that writes the safe tells a failed save as the window does:
// its words, then the system's reason on a line of its own.
TEST_F(CliHostile, AFailedSaveIsToldWithTheSystemsReasonAsInTheWindow) {
    auto safe = sealSafe({{"a.txt", "alpha"}, {"b.txt", "beta"}});
    auto original = box.writeFile("c.txt", "gamma");
    const std::string fresh = box.passwordFile("fresh").string();
    const std::vector<std::vector<std::string>> commands = {
        {"add", safe.string(), original.string()},
        {"rename", safe.string(), "1", "renamed"},
        {"delete", safe.string(), "0"},
        {"passwd", safe.string(), "--new-password-file", fresh}};
    for (const auto& args : commands) {
        RunResult run = cli(args, failingSafeSync());
        EXPECT_EQ(run.exitCode, 1) << args.front();
        EXPECT_TRUE(contains(run.err, "quorvane-cli: Failed to Save file!\n"
                                      "quorvane-cli: Input/output error\n"))
            << args.front() << ": " << run.err;
    }
    EXPECT_EQ(listOf(safe), "0\t5\ta.txt\n1\t4\tb.txt\n");
}

// The reader stopping early is how pipelines end (list | head): the tool
// ends quietly, with status 0, and leaves nothing behind.
TEST_F(CliHostile, AReaderThatGoesAwayLeavesNothingBehind) {
    std::vector<StoredFile> many;
    for (int i = 0; i < 3000; ++i)
        many.push_back({"entry-with-a-long-name-" + std::to_string(i), "x"});
    auto safe = sealSafe(many);
    const std::string command = "cd '" + box.cwd().string() + "' && TMPDIR='" + box.tmp().string() +
                                "' '" + cliBinary() + "' list '" + safe.string() +
                                "' --password-file '" + passwordFile +
                                "' 2>/dev/null | head -c 10 >/dev/null; exit ${PIPESTATUS[0]}";
    EXPECT_EQ(runProgram({"bash", "-c", command}), 0);
}

TEST_F(CliHostile, ATerminationSignalRemovesTheWorkingCopy) {
    // A safe big enough that opening it takes a while. The signal comes once
    // the working directory exists (the plaintext is being written into it),
    // and a little later: whenever it lands, nothing stays in TMPDIR.
    auto safe = sealSafe({{"big.bin", std::string(48u << 20, 'z')}});
    int interrupted = 0;
    for (int delayMs : {0, 10, 40}) {
        pid_t pid = ::fork();
        if (pid == 0) {
            ::setsid();
            if (::chdir(box.cwd().c_str()) != 0 || !std::freopen("/dev/null", "w", stdout))
                ::_exit(126);
            ::setenv("TMPDIR", box.tmp().c_str(), 1);
            ::execl(cliBinary(), cliBinary(), "list", safe.c_str(), "--password-file",
                    passwordFile.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int waited = 0; waited < 10000 && fs::is_empty(box.tmp()); ++waited)
            ::usleep(1000);
        ::usleep(static_cast<useconds_t>(delayMs) * 1000);
        ::kill(pid, SIGTERM);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_TRUE(WEXITSTATUS(status) == 128 + SIGTERM || WEXITSTATUS(status) == 0)
            << WEXITSTATUS(status);
        interrupted += WEXITSTATUS(status) == 128 + SIGTERM ? 1 : 0;
        EXPECT_EQ(box.leftovers(), std::vector<std::string>{}) << "after " << delayMs << " ms";
    }
    std::printf("[   INFO   ] %d of 3 runs ended by the signal, none left anything\n", interrupted);
}

} // namespace
} // namespace quorvane::clitest
