// The tool's commands over both formats of a safe, through the one contents
// interface: a plain safe and a sealed one (a vault) must answer alike.

#include "tests/cli/CliFixture.h"
#include "tests/cli/MountFixture.h"
#include "tests/storage/VaultKit.h"
#include "tests/support/SealedBytes.h"

namespace quorvane::clitest {
namespace {

namespace fs = std::filesystem;

using test::patternBytes;

class CliBothFormats : public CliTest, public ::testing::WithParamInterface<bool> {
  protected:
    bool sealed() const { return GetParam(); }

    fs::path created() {
        const fs::path safe = file("both.cx");
        std::vector<std::string> args{"create", safe.string()};
        if (sealed())
            args.push_back("--sealed");
        RunResult made = cli(args);
        EXPECT_EQ(made.exitCode, 0) << made.err;
        return safe;
    }
};

TEST_P(CliBothFormats, EveryCommandAnswersAlike) {
    const fs::path safe = created();
    const std::string big = patternBytes((3u << 20) + 7, 4);
    const fs::path a = box.writeFile("a.bin", big), b = box.writeFile("b.txt", "bee"),
                   c = box.writeFile("c.txt", "sea");
    RunResult added = cli({"add", safe.string(), a.string(), b.string(), c.string()});
    ASSERT_EQ(added.exitCode, 0) << added.err;
    EXPECT_EQ(listOf(safe), "0\t3145735\ta.bin\n1\t3\tb.txt\n2\t3\tc.txt\n");
    EXPECT_EQ(cli({"cat", safe.string(), "1"}).out, "bee");

    const std::string beforeReads = readFile(safe);
    ASSERT_EQ(cli({"extract", safe.string(), file("out").string()}).exitCode, 0);
    EXPECT_EQ(readFile(file("out") / "a.bin"), big);
    EXPECT_EQ(readFile(file("out") / "c.txt"), "sea");
    EXPECT_EQ(readFile(safe), beforeReads) << "reading writes nothing";

    ASSERT_EQ(cli({"rename", safe.string(), "2", "d.txt"}).exitCode, 0);
    ASSERT_EQ(cli({"delete", safe.string(), "--name", "b.txt"}).exitCode, 0);
    EXPECT_EQ(listOf(safe), "0\t3145735\ta.bin\n1\t3\td.txt\n");
    EXPECT_EQ(cli({"cat", safe.string(), "--name", "d.txt"}).out, "sea");

    const std::string fresh = box.passwordFile("fresh horse").string();
    ASSERT_EQ(cli({"passwd", safe.string(), "--new-password-file", fresh}).exitCode, 0);
    EXPECT_EQ(cli({"list", safe.string()}).exitCode, 3) << "the old password is refused";
    RunResult listed = box.run({"list", safe.string(), "--password-file", fresh});
    EXPECT_EQ(listed.out, "0\t3145735\ta.bin\n1\t3\td.txt\n") << listed.err;
    if (sealed()) {
        EXPECT_EQ(test::vaultkit::vaultContents(safe, "fresh horse"),
                  (test::vaultkit::Contents{{"a.bin", big}, {"d.txt", "sea"}}));
    }
}

TEST_P(CliBothFormats, ASealedAddWritesTheNewFileAndTheIndexOnly) {
    const fs::path safe = created();
    const fs::path a = box.writeFile("a.bin", patternBytes(4u << 20, 1));
    ASSERT_EQ(cli({"add", safe.string(), a.string()}).exitCode, 0);
    const std::string before = readFile(safe);
    const fs::path b = box.writeFile("b.bin", patternBytes(1u << 20, 2));
    ASSERT_EQ(cli({"add", safe.string(), b.string()}).exitCode, 0);
    const std::string after = readFile(safe);
    if (!sealed()) {
        EXPECT_GT(after.size(), before.size());
        return; // a plain safe is rewritten whole, as it always was
    }
    // Only the header's commit slot changes before the old end; the new file
    // and the changed index follow it.
    EXPECT_EQ(after.substr(vault::HeaderSize, before.size() - vault::HeaderSize),
              before.substr(vault::HeaderSize));
    EXPECT_LT(after.size() - before.size(), (1u << 20) + (64u << 10));
}

// Through the folder, a file saved over and an editor's rename over another
// replace the entry of that name, in both formats (a vault keeps one entry
// per name, so the replacement must wait under another name for its turn).
class CliBothFormatsMount : public CliMount, public ::testing::WithParamInterface<bool> {};

TEST_P(CliBothFormatsMount, AFileSavedOrRenamedOverReplacesItsEntry) {
    const fs::path safe = file("both.cx");
    std::vector<std::string> args{"create", safe.string()};
    if (GetParam())
        args.push_back("--sealed");
    ASSERT_EQ(cli(args).exitCode, 0);
    const fs::path a = box.writeFile("a.txt", "old a"), b = box.writeFile("b.txt", "old b");
    ASSERT_EQ(cli({"add", safe.string(), a.string(), b.string()}).exitCode, 0);
    const fs::path dir = box.root() / "mnt";
    const StartedRun started = mount(safe, dir);
    std::ofstream(dir / "a.txt", std::ios::binary | std::ios::trunc) << "new a";
    std::ofstream(dir / "t.tmp", std::ios::binary) << "new b";
    fs::rename(dir / "t.tmp", dir / "b.txt");
    EXPECT_EQ(readFile(dir / "a.txt"), "new a");
    const RunResult ended = unmount(started, dir);
    EXPECT_EQ(ended.exitCode, 0) << ended.err;
    const std::string listed = listOf(safe);
    EXPECT_EQ(std::count(listed.begin(), listed.end(), '\n'), 2) << listed;
    EXPECT_EQ(cli({"cat", safe.string(), "--name", "a.txt"}).out, "new a");
    EXPECT_EQ(cli({"cat", safe.string(), "--name", "b.txt"}).out, "new b");
}

INSTANTIATE_TEST_SUITE_P(Formats, CliBothFormatsMount, ::testing::Values(false, true),
                         [](const auto& format) { return format.param ? "Sealed" : "Plain"; });

INSTANTIATE_TEST_SUITE_P(Formats, CliBothFormats, ::testing::Values(false, true),
                         [](const auto& format) { return format.param ? "Sealed" : "Plain"; });

} // namespace
} // namespace quorvane::clitest
