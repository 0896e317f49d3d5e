// What an extraction does with a different file that already has an entry's
// name: replaced, left, or kept beside the entry, as the command line says;
// without a word there, asked on the terminal, and where there is none both
// files are kept and each such entry reported. A file with the entry's bytes
// is neither asked about nor written.

#include "tests/cli/CliFixture.h"

#include <sys/stat.h>

namespace quorvane::clitest {
namespace {

namespace fs = std::filesystem;

using CliExtractChoices = CliTest;

constexpr const char* KeptBeside =
    "quorvane-cli: 2 entries were written under a new name, beside a different file of their "
    "name that was kept:\n"
    "quorvane-cli: Entry 0 \"a.txt\" was written as \"a (2).txt\"\n"
    "quorvane-cli: Entry 1 \"b.txt\" was written as \"b (2).txt\"\n";

ino_t inodeOf(const fs::path& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

// The folder afterwards, as name=content, sorted.
std::vector<std::string> contentsOf(const fs::path& folder) {
    std::vector<std::string> contents;
    for (const std::string& name : treeOf(folder))
        contents.push_back(name + "=" + readFile(folder / name));
    return contents;
}

class ExtractOverFiles : public CliExtractChoices {
  protected:
    // a.txt and b.txt differ from their entries (b.txt in size only), c.txt
    // holds its entry's bytes, d.txt is not there yet.
    fs::path prepare(const std::string& name) {
        const fs::path folder = file(name);
        fs::create_directory(folder);
        writeFile(folder / "a.txt", "old a");
        writeFile(folder / "b.txt", "old b, longer");
        writeFile(folder / "c.txt", "same c");
        sameInode = inodeOf(folder / "c.txt");
        return folder;
    }
    fs::path safe =
        sealSafe({{"a.txt", "new a"}, {"b.txt", "new b"}, {"c.txt", "same c"}, {"d.txt", "new d"}});
    ino_t sameInode = 0;
};

TEST_F(ExtractOverFiles, TheCommandLineChoosesAndWithoutATerminalBothAreKept) {
    struct Case {
        std::string option;
        std::vector<std::string> after;
        std::string err;
    };
    const std::vector<Case> cases = {
        {"",
         {"a (2).txt=new a", "a.txt=old a", "b (2).txt=new b", "b.txt=old b, longer",
          "c.txt=same c", "d.txt=new d"},
         KeptBeside},
        {"--keep-both",
         {"a (2).txt=new a", "a.txt=old a", "b (2).txt=new b", "b.txt=old b, longer",
          "c.txt=same c", "d.txt=new d"},
         KeptBeside},
        {"--overwrite", {"a.txt=new a", "b.txt=new b", "c.txt=same c", "d.txt=new d"}, ""},
        {"--skip-existing",
         {"a.txt=old a", "b.txt=old b, longer", "c.txt=same c", "d.txt=new d"},
         "quorvane-cli: 2 entries were not extracted, so that a different file of their name "
         "stays as it was:\n"
         "quorvane-cli: Entry 0 \"a.txt\"\n"
         "quorvane-cli: Entry 1 \"b.txt\"\n"},
    };
    int n = 0;
    for (const Case& c : cases) {
        const fs::path folder = prepare("out" + std::to_string(n++));
        std::vector<std::string> args = {"extract", safe.string(), folder.string()};
        if (!c.option.empty())
            args.push_back(c.option);
        RunResult run = cli(args);
        EXPECT_EQ(run.exitCode, 0) << c.option << run.err;
        EXPECT_EQ(run.err, c.err) << c.option;
        EXPECT_EQ(contentsOf(folder), c.after) << c.option;
        EXPECT_EQ(inodeOf(folder / "c.txt"), sameInode) << c.option << ": c.txt was written";
    }
}

// A script that extracts into the same folder every night keeps both files
// the first time, and later finds the entry's copy beside the file there.
TEST_F(ExtractOverFiles, KeepingBothAgainAddsNoCopyBesideTheOneThereAlready) {
    const fs::path folder = prepare("nightly");
    ASSERT_EQ(cli({"extract", safe.string(), folder.string()}).exitCode, 0);
    const std::vector<std::string> first = contentsOf(folder);
    writeFile(folder / "b (2).txt", "edited copy");
    for (const char* option : {"--keep-both", "--quiet"}) {
        RunResult again = cli({"extract", safe.string(), folder.string(), option});
        EXPECT_EQ(again.exitCode, 0) << again.err;
        EXPECT_EQ(again.err,
                  option == std::string("--quiet")
                      ? ""
                      : "quorvane-cli: 1 entry was written under a new name, beside a "
                        "different file of its name that was kept:\n"
                        "quorvane-cli: Entry 1 \"b.txt\" was written as \"b (3).txt\"\n");
    }
    std::vector<std::string> expected = first;
    expected[2] = "b (2).txt=edited copy";
    expected.insert(expected.begin() + 3, "b (3).txt=new b");
    EXPECT_EQ(contentsOf(folder), expected);
}

TEST_F(ExtractOverFiles, AtATerminalEachDifferentFileIsAskedAbout) {
    struct Case {
        std::vector<std::string> typed;
        std::size_t asked;
        std::vector<std::string> after;
    };
    const std::vector<Case> cases = {
        {{"r", "s"}, 2, {"a.txt=new a", "b.txt=old b, longer", "c.txt=same c", "d.txt=new d"}},
        {{"S"}, 1, {"a.txt=old a", "b.txt=old b, longer", "c.txt=same c", "d.txt=new d"}},
        {{"R"}, 1, {"a.txt=new a", "b.txt=new b", "c.txt=same c", "d.txt=new d"}},
        // Enter keeps both; an answer that is none is asked again.
        {{"", "what", "k"},
         3,
         {"a (2).txt=new a", "a.txt=old a", "b (2).txt=new b", "b.txt=old b, longer",
          "c.txt=same c", "d.txt=new d"}},
    };
    int n = 0;
    for (const Case& c : cases) {
        const fs::path folder = prepare("tty" + std::to_string(n++));
        TerminalRun run = box.runOnTerminal(
            {"extract", safe.string(), folder.string(), "--password-file", passwordFile}, c.typed);
        EXPECT_EQ(run.exitCode, 0) << run.transcript;
        std::size_t asked = 0;
        for (std::size_t at = 0;
             (at = run.transcript.find("the same for all] ", at)) != std::string::npos; ++at)
            ++asked;
        EXPECT_EQ(asked, c.asked) << run.transcript;
        EXPECT_TRUE(contains(run.transcript,
                             folder.string() + "/a.txt: a different file of this name is there"))
            << run.transcript;
        EXPECT_EQ(contentsOf(folder), c.after) << run.transcript;
        EXPECT_EQ(inodeOf(folder / "c.txt"), sameInode);
    }
}

} // namespace
} // namespace quorvane::clitest
