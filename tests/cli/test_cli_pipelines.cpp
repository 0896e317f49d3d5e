// The tool in pipelines and scripts: a reader that stops early, an entry sent
// to standard output, adding a folder again, quiet adds, a safe whose folder
// takes no new file, an extraction into a folder that does not exist yet.

#include "tests/cli/CliFixture.h"

#include <sys/stat.h>
#include <unistd.h>

namespace quorvane::clitest {
namespace {

namespace fs = std::filesystem;

using CliPipelines = CliTest;

// Every byte value, and more than one block of the copy.
std::string binaryBytes() {
    std::string bytes;
    for (int i = 0; i < (3 << 20) + 17; ++i)
        bytes += static_cast<char>((i * 7 + i / 256) & 0xFF);
    return bytes;
}

TEST_F(CliPipelines, AReaderThatStopsEndsQuietlyAndAFullDiskFails) {
    std::vector<StoredFile> many;
    for (int i = 0; i < 2000; ++i)
        many.push_back({"entry-" + std::to_string(i), std::string(100, 'x')});
    many.push_back({"big.bin", binaryBytes()});
    const std::string safe = sealSafe(many).string();
    struct Case {
        std::vector<std::string> args;
        std::string fullDiskError;
    };
    const std::vector<Case> cases = {
        {{"list", safe}, "quorvane-cli: the list could not be written\n"},
        {{"list", safe, "--json"}, "quorvane-cli: the list could not be written\n"},
        {{"cat", safe, "2000"},
         "quorvane-cli: the entry could not be written to standard "
         "output: No space left on device\n"},
    };
    for (const Case& c : cases) {
        RunOptions gone;
        gone.outputReaderGone = true;
        RunResult stopped = cli(c.args, gone);
        EXPECT_EQ(stopped.exitCode, 0) << c.args[0] << " " << c.args.back();
        EXPECT_EQ(stopped.err, "") << c.args[0];
        RunOptions full;
        full.outputPath = "/dev/full";
        RunResult failed = cli(c.args, full);
        EXPECT_EQ(failed.exitCode, 1) << c.args[0] << " " << c.args.back();
        EXPECT_EQ(failed.err, c.fullDiskError);
    }
}

TEST_F(CliPipelines, CatWritesTheStoredBytesAndNothingElse) {
    const std::string bytes = binaryBytes();
    const fs::path safe = sealSafe({{"a.txt", "alpha"}, {"data.bin", bytes}, {"", "nameless"}});
    const auto before = treeOf(box.files());
    struct Case {
        std::vector<std::string> args;
        std::string out;
    };
    for (const Case& c : std::vector<Case>{{{"cat", safe.string(), "1"}, bytes},
                                           {{"cat", safe.string(), "--name", "a.txt"}, "alpha"},
                                           {{"cat", safe.string(), "--name="}, "nameless"}}) {
        RunResult run = cli(c.args);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_TRUE(run.out == c.out) << c.args.back() << ": " << run.out.size() << " bytes";
    }
    // No file anywhere: the fixture finds TMPDIR and the working folder empty.
    EXPECT_EQ(treeOf(box.files()), before);
    RunResult missing = cli({"cat", safe.string(), "3"});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_EQ(missing.err, "quorvane-cli: 3: no entry with this number in the safe\n");
    EXPECT_EQ(missing.out, "");
}

TEST_F(CliPipelines, AddUpdateReplacesWhatChangedAndLeavesOutWhatDidNot) {
    const fs::path safe = sealSafe({{"same.txt", "kept"},
                                    {"edited.txt", "old!"},
                                    {"grown.txt", "old"},
                                    {"twice.txt", "one"},
                                    {"twice.txt", "two"}});
    fs::create_directory(file("notes"));
    struct Given {
        std::string name, bytes;
    };
    for (const Given& given : std::vector<Given>{{"same.txt", "kept"},
                                                 {"edited.txt", "new!"},
                                                 {"grown.txt", "longer"},
                                                 {"twice.txt", "two"},
                                                 {"fresh.txt", "first time"}})
        writeFile(file("notes") / given.name, given.bytes);
    RunResult run = cli({"add", safe.string(), file("notes").string(), "--update"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "quorvane-cli: 1 added, 2 replaced, 2 unchanged\n");
    EXPECT_EQ(listOf(safe), "0\t4\tsame.txt\n1\t3\ttwice.txt\n2\t3\ttwice.txt\n"
                            "3\t4\tedited.txt\n4\t10\tfresh.txt\n5\t6\tgrown.txt\n");
    // Again: nothing to do, nothing written.
    const std::string written = readFile(safe);
    RunResult again = cli({"add", safe.string(), file("notes").string(), "--update"});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(again.err, "quorvane-cli: 0 added, 0 replaced, 5 unchanged\n");
    EXPECT_EQ(readFile(safe), written);
}

TEST_F(CliPipelines, QuietCountsWhatItWouldHaveSaidOfEachFile) {
    const fs::path safe = sealSafe({{"a", "1"}, {"b", "2"}});
    fs::create_directory(file("in"));
    for (const char* name : {"a", "b", "c"})
        writeFile(file("in") / name, "x");
    writeFile(file("in") / "empty", "");
    writeFile(file("in") / std::string(60, 'n'), "long");
    RunResult quiet = cli({"add", safe.string(), file("in").string(), "--quiet"});
    EXPECT_EQ(quiet.exitCode, 0) << quiet.err;
    EXPECT_EQ(quiet.err, "quorvane-cli: 1 stored name was cut to 50 bytes; 2 stored names are "
                         "ones that other entries have too; 1 file in the folders was not added\n");
    RunResult extracted = cli({"extract", safe.string(), file("out").string(), "--quiet"});
    EXPECT_EQ(extracted.exitCode, 0) << extracted.err;
    EXPECT_EQ(extracted.err, "quorvane-cli: 2 entries were written under a new name, as a file "
                             "of its name had already been extracted\n");
    EXPECT_EQ(treeOf(file("out")).size(), 6u);
}

TEST_F(CliPipelines, ExtractMakesAFolderThatDoesNotExistYet) {
    const fs::path safe = sealSafe({{"a.txt", "alpha"}});
    RunResult run = cli({"extract", safe.string(), file("new/deeper").string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(readFile(file("new/deeper/a.txt")), "alpha");
    // A wrong password makes nothing.
    const std::string wrong = box.passwordFile("wrong").string();
    RunResult refused =
        box.run({"extract", safe.string(), file("never").string(), "--password-file", wrong});
    EXPECT_EQ(refused.exitCode, 3);
    EXPECT_FALSE(fs::exists(file("never")));
}

// Run as a user who may read the safe but not write in its folder, so that
// the refusal comes from the system as it would for anyone (root ignores modes).
TEST_F(CliPipelines, AChangeToASafeInAFolderThatTakesNoFileIsRefusedFirst) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    const fs::path safe = sealSafe({{"a.txt", "alpha"}, {"b.txt", "beta"}});
    const fs::path tool = box.root() / "quorvane-cli";
    fs::copy_file(cliBinary(), tool);
    for (const fs::path& path : {box.root(), tool})
        fs::permissions(path, fs::perms(0755));
    for (const fs::path& path : {safe, fs::path(passwordFile)})
        fs::permissions(path, fs::perms(0644));
    const fs::path added = box.writeFile("added.txt", "x");
    fs::permissions(added, fs::perms(0644));
    // A folder to mount on, empty: the mount's work would have to be saved too.
    const fs::path mountPoint = box.root() / "mounted";
    fs::create_directories(mountPoint);
    fs::permissions(box.files(), fs::perms(0555));
    const std::string before = readFile(safe);
    const std::string refusal = "quorvane-cli: " + safe.string() +
                                ": its folder takes no new file (Permission denied), so the safe "
                                "cannot be written; nothing was done\n";
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"delete", safe.string(), "0"},
             {"rename", safe.string(), "0", "new.txt"},
             {"add", safe.string(), added.string()},
             {"passwd", safe.string(), "--new-password-file", passwordFile},
             {"seal", safe.string()},
             {"mount", safe.string(), mountPoint.string()},
             {"create", (box.files() / "new.cx").string()}}) {
        std::vector<std::string> command = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                            "--clear-groups",   "/usr/bin/env",  "TMPDIR=/tmp",
                                            tool.string()};
        command.insert(command.end(), args.begin(), args.end());
        command.insert(command.end(), {"--password-file", passwordFile});
        const std::string err = (box.root() / "err").string();
        const std::string shell = "exec \"$@\" 2>'" + err + "' </dev/null";
        std::vector<std::string> wrapped = {"/bin/sh", "-c", shell, "sh"};
        wrapped.insert(wrapped.end(), command.begin(), command.end());
        EXPECT_EQ(runProgram(wrapped), 1) << args[0];
        const std::string target = args[0] == "create" ? args[1] : safe.string();
        std::string expected = refusal;
        expected.replace(14, safe.string().size(), target);
        EXPECT_EQ(readFile(err), expected) << args[0];
    }
    fs::permissions(box.files(), fs::perms(0700));
    EXPECT_EQ(readFile(safe), before);
    EXPECT_FALSE(fs::exists(box.files() / "new.cx"));
}

} // namespace
} // namespace quorvane::clitest
