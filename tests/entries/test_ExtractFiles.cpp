#include "entries/ExtractTarget.h"
#include "entries/Messages.h"
#include "tests/entries/EntriesFixture.h"
#include "tests/support/ChildProcess.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane::test {
namespace {

namespace text = entries_text;

const std::string AskFolder = "folder:Select a Directory";

using ExtractCommand = EntriesTest;

TEST_F(ExtractCommand, RowsZeroAndTwoOfThreeInOrderWithTheirProgressTexts) {
    openContainer(containerBytes({{"zero", "0000"}, {"one", "1"}, {"two", "22"}}));
    std::vector<std::string> writtenBeforeStep;
    shell.beforeStep = [&](int) {
        writtenBeforeStep.push_back(std::to_string(folderListing(out).size()));
    };
    extractRows({0, 2}, out);

    EXPECT_EQ(shell.events,
              (std::vector<std::string>{AskFolder, "progress:Extracting File 1 of 2...", "hide",
                                        "progress:Extracting File 2 of 2...", "hide"}));
    EXPECT_EQ(writtenBeforeStep, (std::vector<std::string>{"0", "1"}));
    EXPECT_EQ(shell.busySteps, 2);
    EXPECT_EQ(folderListing(out), (std::vector<std::string>{"two", "zero"}));
    EXPECT_EQ(readFile(out / "zero"), "0000");
    EXPECT_EQ(readFile(out / "two"), "22");
    EXPECT_EQ(session.CurrentRow, -1);
}

// The folder question is asked even with no row selected; a cancel there,
// or no row, writes nothing.
TEST_F(ExtractCommand, CancelledFolderOrNoSelectedRowWritesNothing) {
    openContainer(containerBytes({{"a", "a"}}));
    const std::vector<std::pair<std::set<int>, std::optional<std::string>>> cases = {
        {{0}, std::nullopt}, {{}, out.string()}};
    for (const auto& [rows, folder] : cases) {
        SCOPED_TRACE(folder.value_or("cancelled"));
        shell.clearRecords();
        shell.selected = rows;
        shell.folderAnswers.push_back(folder);
        extractFiles(session);
        EXPECT_EQ(shell.events, (std::vector<std::string>{AskFolder}));
        EXPECT_TRUE(folderListing(out).empty());
    }
}

// Within one extraction no entry replaces a file that the same extraction
// wrote: it goes under the next free numbered name, and one box lists each
// renaming. A file that was in the folder before with the entry's bytes counts
// as written by it.
TEST_F(ExtractCommand, AClashingNameGoesUnderTheNextFreeNumberedName) {
    using Files = std::vector<std::pair<std::string, std::string>>;
    struct Case {
        const char* what;
        std::vector<StoredFile> entries;
        Files before; // in the folder before the extraction
        Files after;  // the whole folder after it
        std::vector<std::string> renamings;
    };
    const std::vector<Case> cases = {
        {"two of one name",
         {{"x", "first"}, {"y", "y"}, {"x", "second"}},
         {},
         {{"x", "first"}, {"x (2)", "second"}, {"y", "y"}},
         {"Entry 2 \"x\" was written as \"x (2)\""}},
        {"the number goes before the extension, past names already taken",
         {{"IMG.JPG", "1"}, {"IMG.JPG", "2"}, {"IMG.JPG", "3"}},
         {{"IMG (2).JPG", "kept"}},
         {{"IMG (2).JPG", "kept"}, {"IMG (3).JPG", "2"}, {"IMG (4).JPG", "3"}, {"IMG.JPG", "1"}},
         {"Entry 1 \"IMG.JPG\" was written as \"IMG (3).JPG\"",
          "Entry 2 \"IMG.JPG\" was written as \"IMG (4).JPG\""}},
        {"a file there before with the entry's bytes stays, the second entry goes beside it",
         {{"a.txt", "new"}, {"a.txt", "newer"}},
         {{"a.txt", "new"}},
         {{"a (2).txt", "newer"}, {"a.txt", "new"}},
         {"Entry 1 \"a.txt\" was written as \"a (2).txt\""}},
        {"a numbered name this extraction gave is not replaced either",
         {{"a.txt", "1"}, {"a.txt", "2"}, {"a (2).txt", "3"}},
         {},
         {{"a (2) (2).txt", "3"}, {"a (2).txt", "2"}, {"a.txt", "1"}},
         {"Entry 1 \"a.txt\" was written as \"a (2).txt\"",
          "Entry 2 \"a (2).txt\" was written as \"a (2) (2).txt\""}},
        {"a leading dot is no extension",
         {{".profile", "1"}, {".profile", "2"}},
         {},
         {{".profile", "1"}, {".profile (2)", "2"}},
         {"Entry 1 \".profile\" was written as \".profile (2)\""}},
    };
    int folderNumber = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto folder = out / std::to_string(folderNumber++);
        std::filesystem::create_directory(folder);
        for (const auto& [name, content] : c.before)
            writeFile(folder / name, content);
        openContainer(containerBytes(c.entries));
        std::set<int> rows;
        for (int row = 0; row < static_cast<int>(c.entries.size()); ++row)
            rows.insert(row);
        extractRows(rows, folder);

        Files after;
        for (const std::string& name : folderListing(folder))
            after.emplace_back(name, readFile(folder / name));
        EXPECT_EQ(after, c.after);
        ASSERT_EQ(shell.messages.size(), 1u);
        EXPECT_EQ(shell.messages[0].icon, MessageIcon::Information);
        std::string expected = std::to_string(c.renamings.size()) +
                               (c.renamings.size() == 1 ? " entry was" : " entries were") +
                               " written under a new name, as a file of its name had already "
                               "been extracted:";
        for (const std::string& line : c.renamings)
            expected += "\n" + line;
        EXPECT_EQ(shell.messages[0].text, expected);
    }
}

// A different file that was in the folder before is replaced, left as it is
// (the entry not written) or kept beside the entry, as the user answers; an
// answer for all is not asked again, and a file with the entry's bytes is
// not asked about, nor written.
TEST_F(ExtractCommand, ADifferentFileThereIsReplacedLeftOrKeptAsTheUserSays) {
    using C = ExistingFileChoice;
    struct Case {
        const char* what;
        std::vector<ExistingFileAnswer> answers;
        std::size_t asked;
        std::vector<std::string> folder; // afterwards: name=content, sorted
        std::string report;              // the one message, or none
    };
    const std::vector<Case> cases = {
        {"replace each",
         {{C::Replace, false}, {C::Replace, false}},
         2,
         {"a.txt=new a", "b.txt=new b", "c.txt=c"},
         ""},
        {"replace all", {{C::Replace, true}}, 1, {"a.txt=new a", "b.txt=new b", "c.txt=c"}, ""},
        {"skip all",
         {{C::Skip, true}},
         1,
         {"a.txt=old a", "b.txt=old, and longer", "c.txt=c"},
         "2 entries were not extracted, so that a different file of their name stays as it "
         "was:\nEntry 0 \"a.txt\"\nEntry 1 \"b.txt\""},
        {"keep both, then replace",
         {{C::KeepBoth, false}, {C::Replace, false}},
         2,
         {"a (2).txt=new a", "a.txt=old a", "b.txt=new b", "c.txt=c"},
         "1 entry was written under a new name, beside a different file of its name that was "
         "kept:\nEntry 0 \"a.txt\" was written as \"a (2).txt\""},
    };
    int folderNumber = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto folder = out / ("choices" + std::to_string(folderNumber++));
        std::filesystem::create_directory(folder);
        writeFile(folder / "a.txt", "old a");
        writeFile(folder / "b.txt", "old, and longer");
        writeFile(folder / "c.txt", "c");
        struct stat before {};
        ASSERT_EQ(::stat((folder / "c.txt").c_str(), &before), 0);
        openContainer(containerBytes({{"a.txt", "new a"}, {"b.txt", "new b"}, {"c.txt", "c"}}));
        shell.existingFileAnswers.assign(c.answers.begin(), c.answers.end());
        shell.events.clear();
        shell.messages.clear();
        extractRows({0, 1, 2}, folder);

        std::vector<std::string> after;
        for (const std::string& name : folderListing(folder))
            after.push_back(name + "=" + readFile(folder / name));
        EXPECT_EQ(after, c.folder);
        EXPECT_EQ(std::count_if(
                      shell.events.begin(), shell.events.end(),
                      [](const std::string& event) { return event.rfind("existing:", 0) == 0; }),
                  static_cast<long>(c.asked));
        EXPECT_TRUE(shell.existingFileAnswers.empty());
        struct stat now {};
        ASSERT_EQ(::stat((folder / "c.txt").c_str(), &now), 0);
        EXPECT_EQ(now.st_ino, before.st_ino) << "the file with the entry's bytes was rewritten";
        ASSERT_EQ(shell.messages.size(), c.report.empty() ? 0u : 1u);
        if (!c.report.empty()) {
            EXPECT_EQ(shell.messages[0].text, c.report);
        }
    }
}

TEST_F(ExtractCommand, AHardLinkInTheFolderIsReplacedNotWrittenThrough) {
    const auto outside = root / "outside";
    writeFile(outside, "precious, and kept elsewhere");
    ASSERT_EQ(::link(outside.c_str(), (out / "linked").c_str()), 0);
    openContainer(containerBytes({{"linked", "the entry's bytes"}}));
    shell.existingFileAnswers.push_back({ExistingFileChoice::Replace, false});
    extractRows({0}, out);

    EXPECT_EQ(readFile(outside), "precious, and kept elsewhere");
    EXPECT_EQ(readFile(out / "linked"), "the entry's bytes");
    EXPECT_EQ(std::filesystem::hard_link_count(outside), 1u);
    EXPECT_EQ(folderListing(out), (std::vector<std::string>{"linked"}));
    EXPECT_TRUE(shell.messages.empty());
}

mode_t modeOf(const std::filesystem::path& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// While an entry's plaintext is written only its owner may read it; then a new
// name gets what the umask allows, and a replaced file keeps its permissions,
// but no set-user-id bit is handed to the entry's bytes.
TEST_F(ExtractCommand, FilesArePrivateWhileWrittenThenTakeTheirMode) {
    const std::vector<std::tuple<std::string, mode_t, mode_t>> cases = {{"new", 0, 0640},
                                                                        {"private", 0600, 0600},
                                                                        {"shared", 0664, 0664},
                                                                        {"program", 04755, 0755}};
    std::vector<StoredFile> entries;
    for (const auto& [name, before, after] : cases) {
        entries.push_back({name, name});
        if (before != 0) {
            writeFile(out / name, "old");
            ASSERT_EQ(::chmod((out / name).c_str(), before), 0);
        }
    }
    openContainer(containerBytes(entries));
    // The files the entries are written into have no name in the folder
    // while written: they are found through this process's descriptors.
    std::set<mode_t> whileWritten;
    std::set<std::string> namedWhileWritten;
    shell.duringStep = [&] {
        for (const auto& item : std::filesystem::directory_iterator(out))
            if (item.path().filename().string().front() == '.')
                namedWhileWritten.insert(item.path().filename().string());
        for (const auto& item : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code error;
            const auto held = std::filesystem::read_symlink(item.path(), error);
            struct stat status {};
            if (!error && held.parent_path() == out && held.string().ends_with("(deleted)") &&
                ::stat(item.path().c_str(), &status) == 0)
                whileWritten.insert(status.st_mode & 07777);
        }
    };
    const mode_t savedMask = ::umask(027);
    shell.existingFileAnswers.push_back({ExistingFileChoice::Replace, true});
    extractRows({0, 1, 2, 3}, out);
    ::umask(savedMask);
    EXPECT_EQ(whileWritten, std::set<mode_t>{0600});
    EXPECT_EQ(namedWhileWritten, std::set<std::string>{});
    for (const auto& [name, before, after] : cases) {
        EXPECT_EQ(modeOf(out / name), after) << name;
        EXPECT_EQ(readFile(out / name), name);
    }
}

// Killed outright in the middle of an entry (SIGKILL, the out-of-memory
// killer): nothing of ours runs after it, so the cut-off plaintext must never
// have had a name in the user's folder.
TEST_F(ExtractCommand, AProcessKilledWhileWritingLeavesNoFileBehind) {
    writeFile(out / "kept.txt", "an older file");
    ExtractFolder folder(out.string(), "");
    EXPECT_EQ(runInChild([&] {
                  writeEntryFile(folder, "kept.txt", [](std::ostream& file) {
                      file << patternBytes(4u << 20) << std::flush;
                      ::raise(SIGKILL);
                      return true;
                  });
              }),
              128 + SIGKILL);
    EXPECT_EQ(folderListing(out), std::vector<std::string>{"kept.txt"});
    EXPECT_EQ(readFile(out / "kept.txt"), "an older file");
}

// Under its own name in its own folder, or under another hard link: the safe
// keeps its bytes and the entry is reported as skipped.
TEST_F(ExtractCommand, TheOpenSafeIsNeverReplaced) {
    writeFile(state.safePath, "the safe's own bytes");
    ASSERT_EQ(::link(state.safePath.c_str(), (out / "linked.cx").c_str()), 0);
    openContainer(containerBytes({{"safe.cx", "entry"}, {"linked.cx", "entry"}}));
    for (const auto& [row, folder] : {std::pair{0, root}, std::pair{1, out}}) {
        const std::string name = row == 0 ? "safe.cx" : "linked.cx";
        SCOPED_TRACE(name);
        shell.clearRecords();
        extractRows({row}, folder);
        EXPECT_EQ(shell.messageTexts(), std::vector<std::string>{text::skippedEntriesReport(
                                            {{row, name, text::TargetIsOpenSafe}})});
        EXPECT_EQ(readFile(state.safePath), "the safe's own bytes");
        EXPECT_EQ(std::filesystem::hard_link_count(folder / name), 2u);
    }
    EXPECT_EQ(folderListing(root), (std::vector<std::string>{"out", "safe.cx", "sources", "work"}));
    EXPECT_EQ(folderListing(out), (std::vector<std::string>{"linked.cx"}));
}

TEST_F(ExtractCommand, FewerSelectedRowsThanCountedEndsWithExtractionFailed) {
    openContainer(containerBytes({{"a", "aa"}, {"b", "bb"}}));
    shell.claimedSelectedCount = 3;
    extractRows({0, 1}, out);
    EXPECT_EQ(shell.events,
              (std::vector<std::string>{AskFolder, "progress:Extracting File 1 of 3...", "hide",
                                        "progress:Extracting File 2 of 3...", "hide",
                                        "message:Unknown Error:Extraction failed."}));
    EXPECT_EQ(folderListing(out), (std::vector<std::string>{"a", "b"}));
}

// What was added comes out byte for byte, its length the shown size, and
// the long steps of both report their bytes to the busy box.
TEST_F(ExtractCommand, ExtractedBytesAreTheAddedFileAndItsLengthTheShownSize) {
    openEmptySafe();
    const std::size_t size = 3 * StreamBlockSize + 11;
    const std::string content = patternBytes(size, 7);
    addKeepingOriginal(source("big.bin", content));
    addKeepingOriginal(source("small.bin", "s"));
    ASSERT_EQ(shell.rows.size(), 2u);
    EXPECT_EQ(shell.rows[0].size, std::to_string(size) + " Bytes");
    const auto whole = std::make_pair(std::uint64_t{size}, std::uint64_t{size});
    EXPECT_NE(std::find(shell.byteReports.begin(), shell.byteReports.end(), whole),
              shell.byteReports.end());
    shell.clearRecords();
    shell.byteReports.clear();
    extractRows({0, 1}, out);
    EXPECT_EQ(readFile(out / "big.bin"), content);
    EXPECT_EQ(readFile(out / "small.bin"), "s");
    EXPECT_TRUE(shell.messages.empty());
    ASSERT_FALSE(shell.byteReports.empty());
    EXPECT_NE(std::find(shell.byteReports.begin(), shell.byteReports.end(), whole),
              shell.byteReports.end());
    for (const auto& [done, total] : shell.byteReports)
        EXPECT_LE(done, total);
}

// --- stored names from a hostile safe ---

TEST(PlainEntryNames, OnlyNamesOfAFileDirectlyInTheFolderPass) {
    EXPECT_TRUE(isPlainEntryName("a.txt"));
    EXPECT_TRUE(isPlainEntryName("..."));
    EXPECT_TRUE(isPlainEntryName(".hidden"));
    EXPECT_TRUE(isPlainEntryName("line\nbreak"));
    EXPECT_TRUE(isPlainEntryName("back\\slash"));
    EXPECT_FALSE(isPlainEntryName(""));
    EXPECT_FALSE(isPlainEntryName("."));
    EXPECT_FALSE(isPlainEntryName(".."));
    EXPECT_FALSE(isPlainEntryName("../x"));
    EXPECT_FALSE(isPlainEntryName("a/b"));
    EXPECT_FALSE(isPlainEntryName("/etc/passwd"));
    EXPECT_FALSE(isPlainEntryName("x/"));
    EXPECT_FALSE(isPlainEntryName(std::string("a\0b", 3)));
}

class HostileNames : public EntriesTest {
  protected:
    // Everything below root, as relative paths, so that a stray write shows.
    std::vector<std::string> everythingUnderRoot() {
        std::vector<std::string> paths;
        for (const auto& item : std::filesystem::recursive_directory_iterator(root))
            if (item.path().parent_path() != workDir)
                paths.push_back(std::filesystem::relative(item.path(), root).string());
        std::sort(paths.begin(), paths.end());
        return paths;
    }
};

TEST_F(HostileNames, NothingIsWrittenOutsideTheChosenFolder) {
    const auto chosen = out / "chosen";
    std::filesystem::create_directory(chosen);
    const std::string absolute = (root / "absolute").string();
    ASSERT_LT(absolute.size(), 50u);
    openContainer(containerBytes({{"../escaped", "E"},
                                  {"..", "D"},
                                  {".", "P"},
                                  {std::string("\0hidden", 7), "N"},
                                  {"sub/inner", "S"},
                                  {absolute, "A"},
                                  {"good", "fine"},
                                  {"bad\nname", "odd"}}));
    ASSERT_EQ(shell.rows.size(), 8u);
    const auto before = everythingUnderRoot();
    extractRows({0, 1, 2, 3, 4, 5, 6, 7}, chosen);

    auto after = everythingUnderRoot();
    std::vector<std::string> expected = before;
    expected.push_back("out/chosen/bad\nname");
    expected.push_back("out/chosen/good");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(after, expected);
    EXPECT_EQ(readFile(chosen / "good"), "fine");
    EXPECT_EQ(readFile(chosen / "bad\nname"), "odd");

    // One message after the loop names every skipped entry.
    ASSERT_EQ(shell.messages.size(), 1u);
    const auto& message = shell.messages[0];
    EXPECT_EQ(shell.events.back(), "message:Error:" + message.text);
    EXPECT_EQ(message.icon, MessageIcon::Error);
    EXPECT_EQ(message.text.find("6 entries were not extracted"), 0u) << message.text;
    for (const std::string line : {"Entry 0 \"../escaped\"", "Entry 1 \"..\"", "Entry 2 \".\"",
                                   "Entry 3 \"\"", "Entry 4 \"sub/inner\""})
        EXPECT_NE(message.text.find(line), std::string::npos) << line << "\n" << message.text;
    EXPECT_NE(message.text.find("Entry 5 \"" + absolute + "\""), std::string::npos);
    EXPECT_EQ(message.text.find("good"), std::string::npos);
    EXPECT_EQ(shell.progressTexts.size(), 8u);
}

TEST_F(HostileNames, ALinkPlacedInTheFolderIsNotFollowed) {
    const auto victim = root / "victim";
    writeFile(victim, "precious");
    std::filesystem::create_symlink(victim, out / "link");
    std::filesystem::create_symlink(root / "created-through-link", out / "dangling");
    std::filesystem::create_directory(out / "folder");
    ASSERT_EQ(::mkfifo((out / "fifo").c_str(), 0600), 0);
    openContainer(containerBytes({{"link", "overwritten!"},
                                  {"dangling", "made!"},
                                  {"folder", "f"},
                                  {"fifo", "blocked?"},
                                  {"plain", "plain"}}));
    extractRows({0, 1, 2, 3, 4}, out);

    EXPECT_EQ(readFile(victim), "precious");
    EXPECT_FALSE(std::filesystem::exists(root / "created-through-link"));
    EXPECT_TRUE(std::filesystem::is_symlink(out / "link"));
    EXPECT_TRUE(std::filesystem::is_symlink(out / "dangling"));
    EXPECT_TRUE(std::filesystem::is_directory(out / "folder"));
    EXPECT_TRUE(std::filesystem::is_fifo(out / "fifo"));
    EXPECT_EQ(readFile(out / "plain"), "plain");
    ASSERT_EQ(shell.messages.size(), 1u);
    const std::string& report = shell.messages[0].text;
    EXPECT_EQ(report.find("4 entries were not extracted"), 0u) << report;
    for (const std::string line :
         {"Entry 0 \"link\"", "Entry 1 \"dangling\"", "Entry 2 \"folder\"", "Entry 3 \"fifo\""})
        EXPECT_NE(report.find(line + ": " + text::TargetNotPlainFile), std::string::npos)
            << line << "\n"
            << report;
}

TEST_F(HostileNames, ControlBytesInANameAreShownEscaped) {
    EXPECT_EQ(text::printableName("a\nb\x1b[31m"), "\"a\\x0Ab\\x1B[31m\"");
    EXPECT_EQ(text::printableName("plain"), "\"plain\"");
}

// What a terminal or a text box would act on instead of showing, and bytes
// that are no UTF-8 (which a terminal may take for a C1 control), are shown
// as \xNN; every other character as itself.
TEST_F(HostileNames, EveryNameIsShownInPrintableCharactersOnly) {
    const std::vector<std::pair<std::string, std::string>> names = {
        {"csi \xc2\x9b"
         "2J",
         "csi \\xC2\\x9B2J"}, // C1 CSI, as UTF-8
        {"lone \x9b"
         "2J",
         "lone \\x9B2J"}, // C1 CSI, a raw byte
        {"gpj.\xe2\x80\xae"
         "exe",
         "gpj.\\xE2\\x80\\xAEexe"}, // right-to-left override
        {"line\xe2\x80\xa8"
         "sep",
         "line\\xE2\\x80\\xA8sep"},           // U+2028
        {"cut \xc3", "cut \\xC3"},            // a sequence cut off
        {"over \xc0\xaf", "over \\xC0\\xAF"}, // an overlong "/"
        {"caf\xc3\xa9 \xe5\x86\x99\xe7\x9c\x9f \xf0\x9f\x93\xb7",
         "caf\xc3\xa9 \xe5\x86\x99\xe7\x9c\x9f \xf0\x9f\x93\xb7"}, // kept as it is
    };
    for (const auto& [name, shown] : names)
        EXPECT_EQ(text::printableName(name), "\"" + shown + "\"") << shown;
}

// --- targets that cannot be written ---

class UnwritableTargets : public EntriesTest {};

TEST_F(UnwritableTargets, ATargetThatCannotBeWrittenInFullIsReportedAndTheOthersExtracted) {
    openContainer(
        containerBytes({{"small", "fits"}, {"big", patternBytes(200000)}, {"after", "also fits"}}));
    {
        FileSizeLimit limit(65536);
        extractRows({0, 1, 2}, out);
    }
    EXPECT_EQ(folderListing(out), (std::vector<std::string>{"after", "small"}));
    EXPECT_EQ(readFile(out / "after"), "also fits");
    ASSERT_EQ(shell.messages.size(), 1u);
    const auto& message = shell.messages[0];
    EXPECT_EQ(message.caption, "Error");
    EXPECT_EQ(message.text.find("1 entry could not be written"), 0u) << message.text;
    EXPECT_NE(message.text.find("Entry 1 \"big\": " + (out / "big").string() + ": " +
                                std::strerror(EFBIG)),
              std::string::npos)
        << message.text;
}

TEST_F(UnwritableTargets, AnExistingFileStaysAsItWasWhenItsReplacementCannotBeWritten) {
    openContainer(containerBytes({{"big", patternBytes(200000)}}));
    writeFile(out / "big", "the old big file");
    shell.existingFileAnswers.push_back({ExistingFileChoice::Replace, false});
    {
        FileSizeLimit limit(65536);
        extractRows({0}, out);
    }
    EXPECT_EQ(folderListing(out), (std::vector<std::string>{"big"}));
    EXPECT_EQ(readFile(out / "big"), "the old big file");
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_NE(shell.messages[0].text.find(std::string(std::strerror(EFBIG)) +
                                          "; the incomplete file was removed"),
              std::string::npos)
        << shell.messages[0].text;
}

TEST_F(UnwritableTargets, AFolderThatIsNotThereIsReportedPerEntry) {
    openContainer(containerBytes({{"a", "a"}, {"b", "b"}}));
    extractRows({0, 1}, root / "missing");
    ASSERT_EQ(shell.messages.size(), 1u);
    const std::string& report = shell.messages[0].text;
    EXPECT_EQ(report.find("2 entries could not be written"), 0u) << report;
    EXPECT_NE(report.find("Entry 0 \"a\": " + (root / "missing").string() +
                          "/a: " + std::strerror(ENOENT)),
              std::string::npos)
        << report;
    EXPECT_FALSE(std::filesystem::exists(root / "missing"));
}

// The extraction runs as an unprivileged user in a child process (root
// ignores file modes) and checks there what it was shown.
TEST_F(UnwritableTargets, AFolderTheUserMayNotWriteIntoIsReported) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to become another user";
    openContainer(containerBytes({{"a", "aaa"}, {"b", "bbb"}}));
    std::filesystem::permissions(root, std::filesystem::perms(0755));
    std::filesystem::permissions(out, std::filesystem::perms(0755));
    EXPECT_EQ(runInChild([&] {
                  ASSERT_TRUE(::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 &&
                              ::setuid(65534) == 0);
                  extractRows({0, 1}, out);
                  ASSERT_EQ(shell.messages.size(), 1u);
                  const ShownMessage& said = shell.messages[0];
                  EXPECT_EQ(said.caption, "Error");
                  EXPECT_EQ(said.text.find("2 entries could not be written"), 0u) << said.text;
                  EXPECT_NE(said.text.find("Entry 1 \"b\": " + (out / "b").string() + ": " +
                                           std::strerror(EACCES)),
                            std::string::npos)
                      << said.text;
              }),
              0);
    EXPECT_TRUE(folderListing(out).empty());
}

} // namespace
} // namespace quorvane::test
