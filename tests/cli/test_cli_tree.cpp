// The tool on the folders of a sealed safe, as one table of steps applied in
// turn to one safe, each with the list it leaves; then the tree and the times
// that extract makes again, and the refusals of a plain safe.

#include "tests/cli/CliFixture.h"
#include "tests/storage/VaultKit.h"

#include <map>
#include <regex>
#include <set>
#include <sys/stat.h>

namespace quorvane::clitest {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t OldTime = 1577934245; // 2020-01-02 03:04:05 UTC

class CliTree : public CliTest {
  protected:
    void SetUp() override {
        CliTest::SetUp();
        test::vaultkit::createVault(safe, Password);
        for (const char* folder : {"src/Albums/Kyoto", "src/Albums/Wedding", "src/Empty"})
            fs::create_directories(file(folder));
        box.writeFile("src/Albums/Kyoto/IMG_0001.JPG", "kyoto");
        box.writeFile("src/Albums/Wedding/IMG_0001.JPG", "wedding");
        box.writeFile("src/notes.txt", "notes");
        const timespec times[2] = {{OldTime, 0}, {OldTime, 0}};
        ::utimensat(AT_FDCWD, file("src/Albums/Kyoto/IMG_0001.JPG").c_str(), times, 0);
        ::utimensat(AT_FDCWD, file("src/Albums/Kyoto").c_str(), times, 0);
    }

    fs::path safe = file("tree.cx");
};

std::int64_t modifiedOf(const fs::path& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_mtim.tv_sec : -1;
}

TEST_F(CliTree, StepsOnFoldersLeaveTheListTheyShould) {
    const std::string tree = "-\t-\tsrc/\n"
                             "-\t-\tsrc/Albums/\n"
                             "-\t-\tsrc/Albums/Kyoto/\n"
                             "0\t5\tsrc/Albums/Kyoto/IMG_0001.JPG\n"
                             "-\t-\tsrc/Albums/Wedding/\n"
                             "1\t7\tsrc/Albums/Wedding/IMG_0001.JPG\n"
                             "-\t-\tsrc/Empty/\n"
                             "2\t5\tsrc/notes.txt\n";
    const std::string added = "-\t-\tTaxes/\n"
                              "-\t-\tTaxes/2025/\n"
                              "0\t5\tTaxes/2025/return.pdf\n" +
                              // Rows are numbered in the order of the paths at each open.
                              std::string("-\t-\tsrc/\n"
                                          "-\t-\tsrc/Albums/\n"
                                          "-\t-\tsrc/Albums/Kyoto/\n"
                                          "1\t5\tsrc/Albums/Kyoto/IMG_0001.JPG\n"
                                          "-\t-\tsrc/Albums/Wedding/\n"
                                          "2\t7\tsrc/Albums/Wedding/IMG_0001.JPG\n"
                                          "-\t-\tsrc/Empty/\n"
                                          "3\t5\tsrc/notes.txt\n");
    const std::string moved = "-\t-\tTaxes/\n"
                              "-\t-\tTaxes/2025/\n"
                              "-\t-\tTaxes/Albums/\n"
                              "-\t-\tTaxes/Albums/Kyoto/\n"
                              "0\t5\tTaxes/Albums/Kyoto/IMG_0001.JPG\n"
                              "-\t-\tTaxes/Albums/Wedding/\n"
                              "1\t7\tTaxes/Albums/Wedding/IMG_0001.JPG\n"
                              "2\t5\tTaxes/return.pdf\n"
                              "-\t-\tsrc/\n"
                              "-\t-\tsrc/Empty/\n"
                              "3\t5\tsrc/notes.txt\n";
    const std::string pdf = box.writeFile("return.pdf", "taxes").string();
    const std::string s = safe.string();
    const struct {
        const char* what;
        std::vector<std::string> args;
        int exitCode;
        std::string says; // in the error stream
        std::string list;
    } steps[] = {
        {"a folder keeps its tree", {"add", s, file("src").string()}, 0, "", tree},
        {"a file goes below --to, made when missing",
         {"add", s, pdf, "--to", "Taxes/2025"},
         0,
         "",
         added},
        {"a folder moves whole", {"rename", s, "--name", "src/Albums", "Taxes/Albums"}, 0, "", ""},
        {"a file moves between folders",
         {"rename", s, "--name", "Taxes/2025/return.pdf", "Taxes/return.pdf"},
         0,
         "",
         ""},
        {"mkdir of a folder there already", {"mkdir", s, "Taxes/2025"}, 0, "", moved},
        {"a move into a missing folder",
         {"rename", s, "--name", "Taxes/return.pdf", "Nowhere/return.pdf"},
         1,
         "the folder it would go in is not in the safe",
         moved},
        {"a folder into itself",
         {"rename", s, "--name", "Taxes", "Taxes/2025/Taxes"},
         1,
         "a folder cannot go inside itself",
         moved},
        {"an invalid part",
         {"rename", s, "--name", "Taxes", "a/../b"},
         2,
         "\".\" and \"..\"",
         moved},
        {"a folder without --recursive where nobody can be asked",
         {"delete", s, "--name", "Taxes"},
         1,
         "Taxes: is a folder: --recursive deletes it with everything in it",
         moved},
        {"cat of a folder", {"cat", s, "--name", "Taxes"}, 2, "Taxes: is a folder", moved},
        {"a folder with everything in it",
         {"delete", s, "--name", "Taxes/Albums", "--recursive"},
         0,
         "",
         "-\t-\tTaxes/\n-\t-\tTaxes/2025/\n0\t5\tTaxes/return.pdf\n"
         "-\t-\tsrc/\n-\t-\tsrc/Empty/\n1\t5\tsrc/notes.txt\n"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        RunResult run = cli(step.args);
        EXPECT_EQ(run.exitCode, step.exitCode) << run.err;
        if (!step.says.empty()) {
            EXPECT_TRUE(contains(run.err, step.says)) << run.err;
        }
        if (!step.list.empty()) {
            EXPECT_EQ(listOf(safe), step.list);
        }
    }
}

// Each folder's time as list --json gives it, by path.
std::map<std::string, std::string> folderTimesIn(const std::string& json) {
    static const std::regex folder(
        "\"path\":(\"[^\"]*\"),\"kind\":\"folder\",\"modified\":(\"[^\"]*\")");
    std::map<std::string, std::string> times;
    for (std::sregex_iterator at(json.begin(), json.end(), folder), end; at != end; ++at)
        times[(*at)[1].str().substr(1, (*at)[1].length() - 2)] = (*at)[2].str();
    return times;
}

// A folder's time moves when a name in it comes or goes, as on a disk, and
// is kept in the safe; the folders an add makes keep their originals' times.
TEST_F(CliTree, AFoldersTimeMovesWhenANameInItComesOrGoes) {
    const timespec old[2] = {{OldTime, 0}, {OldTime, 0}};
    const std::vector<std::string> folders{"src", "src/Albums", "src/Albums/Kyoto",
                                           "src/Albums/Wedding", "src/Empty"};
    for (const std::string& folder : folders)
        ASSERT_EQ(::utimensat(AT_FDCWD, file(folder).c_str(), old, 0), 0);
    const std::string s = safe.string();
    const std::string pdf = box.writeFile("return.pdf", "taxes").string();
    const struct {
        const char* what;
        std::vector<std::string> args;
        std::set<std::string> moved;
    } steps[] = {
        {"a folder added keeps its folders' times", {"add", s, file("src").string()}, {}},
        {"a file added into a folder", {"add", s, pdf, "--to", "src/Albums"}, {"src/Albums"}},
        {"a folder made", {"mkdir", s, "src/Albums/Kyoto/Day 2"}, {"src/Albums/Kyoto"}},
        {"a file moved between folders",
         {"rename", s, "--name", "src/Albums/return.pdf", "src/Empty/return.pdf"},
         {"src/Albums", "src/Empty"}},
        {"a file deleted", {"delete", s, "--name", "src/Empty/return.pdf"}, {"src/Empty"}},
        {"a folder deleted",
         {"delete", s, "--name", "src/Albums/Kyoto", "--recursive"},
         {"src/Albums"}},
        {"a refused move", {"rename", s, "--name", "src/notes.txt", "Nowhere/notes.txt"}, {}},
    };
    std::map<std::string, std::string> before;
    for (const std::string& folder : folders)
        before[folder] = "\"2020-01-02T03:04:05Z\"";
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        cli(step.args);
        RunResult listed = cli({"list", s, "--json"});
        ASSERT_EQ(listed.exitCode, 0) << listed.err;
        const std::map<std::string, std::string> after = folderTimesIn(listed.out);
        std::set<std::string> moved;
        for (const auto& [folder, time] : after)
            if (const auto was = before.find(folder); was != before.end() && was->second != time)
                moved.insert(folder);
        EXPECT_EQ(moved, step.moved);
        before = after;
    }
}

TEST_F(CliTree, ExtractMakesTheTreeAgainWithItsTimes) {
    ASSERT_EQ(cli({"add", safe.string(), file("src").string(), "--to", "Backup"}).exitCode, 0);
    const fs::path out = file("out");
    RunResult run = cli({"extract", safe.string(), out.string(), "Backup/src/Albums"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(test::readFile(out / "Backup/src/Albums/Kyoto/IMG_0001.JPG"), "kyoto");
    EXPECT_EQ(test::readFile(out / "Backup/src/Albums/Wedding/IMG_0001.JPG"), "wedding");
    EXPECT_FALSE(fs::exists(out / "Backup/src/notes.txt"));
    EXPECT_EQ(modifiedOf(out / "Backup/src/Albums/Kyoto/IMG_0001.JPG"), OldTime);
    EXPECT_EQ(modifiedOf(out / "Backup/src/Albums/Kyoto"), OldTime);
    // The folders that hold nothing come along with their tree, and with the whole safe.
    const struct {
        const char* what;
        std::vector<std::string> paths;
        bool emptyFolderMade;
    } selections[] = {
        {"a folder beside it", {"Backup/src/Albums"}, false},
        {"its own path", {"Backup/src/Empty"}, true},
        {"a folder above it", {"Backup/src"}, true},
        {"the whole safe", {}, true},
    };
    for (const auto& selection : selections) {
        SCOPED_TRACE(selection.what);
        const fs::path into = file(std::string("whole/") + selection.what);
        std::vector<std::string> args = {"extract", safe.string(), into.string()};
        args.insert(args.end(), selection.paths.begin(), selection.paths.end());
        RunResult whole = cli(args);
        ASSERT_EQ(whole.exitCode, 0) << whole.err;
        EXPECT_EQ(fs::is_directory(into / "Backup/src/Empty"), selection.emptyFolderMade);
    }
    // A file where the folder goes stays, and the folder is said not made.
    const fs::path blocked = file("blocked");
    fs::create_directories(blocked / "Backup/src");
    box.writeFile("blocked/Backup/src/Empty", "mine");
    RunResult unmade = cli({"extract", safe.string(), blocked.string(), "Backup/src/Empty"});
    EXPECT_EQ(unmade.exitCode, 1) << unmade.err;
    EXPECT_TRUE(contains(unmade.err, "1 folder of the safe could not be made:")) << unmade.err;
    EXPECT_EQ(test::readFile(blocked / "Backup/src/Empty"), "mine");
    // A link in OUT where a folder of the tree goes leads nowhere outside OUT.
    const fs::path elsewhere = file("elsewhere");
    fs::create_directories(elsewhere);
    const fs::path linked = file("linked");
    fs::create_directories(linked);
    fs::create_directory_symlink(elsewhere, linked / "Backup");
    RunResult refused = cli({"extract", safe.string(), linked.string()});
    EXPECT_EQ(refused.exitCode, 1) << refused.err;
    EXPECT_TRUE(fs::is_empty(elsewhere));
}

mode_t modeOf(const fs::path& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// The owner's bits come back: on a new file shared with the group and
// others as far as the umask lets them, on a replaced file beside the group's
// and others' bits it had, on a folder that extract made for the owner alone.
TEST_F(CliTree, ExtractGivesTheOwnersBitsBack) {
    struct Item {
        const char* path;
        mode_t stored;
        mode_t extracted; // under the umask 022
        mode_t replacing; // a file of mode 0640 of that name
    };
    const Item items[] = {
        {"modes/run.sh", 0755, 0755, 0740},
        {"modes/notes.txt", 0600, 0644, 0640},
        {"modes/frozen.txt", 0444, 0444, 0440},
        {"modes/Locked", 0500, 0500, 0},
    };
    fs::create_directories(file("modes"));
    for (const Item& item : items) {
        if (item.replacing == 0)
            fs::create_directories(file(item.path));
        else
            box.writeFile(item.path, item.path);
    }
    for (auto at = std::rbegin(items); at != std::rend(items); ++at)
        ASSERT_EQ(::chmod(file(at->path).c_str(), at->stored), 0);
    ASSERT_EQ(cli({"add", safe.string(), file("modes").string()}).exitCode, 0);
    const mode_t umaskBefore = ::umask(022);
    const fs::path out = file("out");
    RunResult run = cli({"extract", safe.string(), out.string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    for (const Item& item : items)
        EXPECT_EQ(modeOf(out / item.path), item.extracted) << item.path;
    for (const Item& item : items)
        if (item.replacing != 0) {
            box.writeFile(fs::path("out") / item.path, "different");
            ASSERT_EQ(::chmod((out / item.path).c_str(), 0640), 0);
        }
    run = cli({"extract", safe.string(), out.string(), "--overwrite"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    ::umask(umaskBefore);
    for (const Item& item : items)
        if (item.replacing != 0) {
            EXPECT_EQ(modeOf(out / item.path), item.replacing) << item.path;
            EXPECT_EQ(test::readFile(out / item.path), item.path);
        }
}

TEST_F(CliTree, UpdateReplacesAChangedFileInItsPlace) {
    ASSERT_EQ(cli({"add", safe.string(), file("src").string()}).exitCode, 0);
    box.writeFile("src/notes.txt", "notes, longer");
    RunResult run = cli({"add", safe.string(), file("src").string(), "--update"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(contains(run.err, "0 added, 1 replaced, 2 unchanged")) << run.err;
    EXPECT_TRUE(contains(listOf(safe), "2\t13\tsrc/notes.txt\n"));
}

TEST_F(CliTree, APlainSafeSaysItKeepsNoFolders) {
    const fs::path plain = sealSafe({{"a.txt", "a"}}, "plain.cx");
    const std::string before = test::readFile(plain);
    const std::string says = "a plain safe keeps no folders; a sealed safe keeps them";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"mkdir", plain.string(), "Taxes"},
          std::vector<std::string>{"add", plain.string(), file("src/notes.txt").string(), "--to",
                                   "Taxes"}}) {
        RunResult run = cli(args);
        EXPECT_EQ(run.exitCode, 1) << args.front();
        EXPECT_TRUE(contains(run.err, "Taxes: " + says)) << run.err;
    }
    EXPECT_EQ(test::readFile(plain), before);
}

} // namespace
} // namespace quorvane::clitest
