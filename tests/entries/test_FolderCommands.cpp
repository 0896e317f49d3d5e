// Folders in a sealed safe, one step after another on the same safe: a
// dropped folder keeps its tree, a new folder, a file renamed in its
// folder, a folder renamed and deleted (asked first); a plain safe keeps
// its flat list and says why.

#include "entries/Messages.h"
#include "lifecycle/Lifecycle.h"
#include "tests/entries/EntriesFixture.h"

#include <algorithm>
#include <fcntl.h>
#include <map>
#include <set>
#include <sys/stat.h>

namespace quorvane::test {
namespace {

namespace text = entries_text;

using FolderCommands = EntriesTest;

// "F path" for a folder, "path" for a file, in the safe's order of paths.
std::vector<std::string> tree(SafeState& state) {
    std::vector<std::string> shown;
    for (const ContentEntry& entry : contentsOf(state).entries(state))
        shown.push_back((entry.kind == ContentKind::Folder ? "F " : "") + entry.path);
    return shown;
}

// Each folder's stamp, by path.
std::map<std::string, EntryStamp> folderStamps(SafeState& state) {
    std::map<std::string, EntryStamp> stamps;
    for (const ContentEntry& entry : contentsOf(state).entries(state))
        if (entry.kind == ContentKind::Folder)
            stamps[entry.path] = entry.stamp;
    return stamps;
}

TEST_F(FolderCommands, StepsOnASealedSafe) {
    shell.newSafePickerAnswers.push_back((root / "sealed.cx").string());
    shell.passwordAnswers.push_back("pw");
    createSafe(session, SafeFormat::Sealed);
    ASSERT_TRUE(isSafeOpen(state));
    ASSERT_TRUE(contentsOf(state).keepsTree());
    std::filesystem::create_directories(sources / "Album" / "Kyoto");
    writeFile(sources / "Album" / "a.jpg", "aaa");
    writeFile(sources / "Album" / "Kyoto" / "a.jpg", "kyoto");

    struct Step {
        const char* what;
        std::function<void()> act;
        std::vector<std::string> tree;
        std::vector<std::string> messages; // "caption:text"
        std::set<std::string> moved;       // the folders there before and after whose time moved
    };
    const std::vector<Step> steps = {
        {"a dropped folder keeps its tree; the same name in two folders is no double",
         [&] {
             shell.yesNoAnswers = {false};
             addDroppedFiles(session, {(sources / "Album").string()});
         },
         {"F Album", "F Album/Kyoto", "Album/Kyoto/a.jpg", "Album/a.jpg"},
         {},
         {}},
        {"dropped again, with a new file first, it adds nothing and names what is there",
         [&] {
             writeFile(sources / "Album" / "0.jpg", "new");
             shell.yesNoAnswers = {false};
             addDroppedFiles(session, {(sources / "Album").string()});
         },
         {"F Album", "F Album/Kyoto", "Album/Kyoto/a.jpg", "Album/a.jpg"},
         {std::string("Not Added:") + text::pathsTakenReport({"Album/Kyoto/a.jpg", "Album/a.jpg"})},
         {}},
        {"a new folder inside the focused one",
         [&] {
             shell.renameAnswers.push_back("Empty");
             newFolder(session, "Album");
         },
         {"F Album", "F Album/Empty", "F Album/Kyoto", "Album/Kyoto/a.jpg", "Album/a.jpg"},
         {},
         {"Album"}},
        {"a file renamed stays in its folder",
         [&] {
             const auto& details = state.entryDetails;
             const auto row = std::find_if(details.begin(), details.end(), [](const auto& e) {
                 return e.name == "Album/Kyoto/a.jpg";
             });
             ASSERT_NE(row, details.end());
             shell.focused = static_cast<int>(row - details.begin());
             shell.renameAnswers.push_back("temple.jpg");
             renameFile(session);
         },
         {"F Album", "F Album/Empty", "F Album/Kyoto", "Album/Kyoto/temple.jpg", "Album/a.jpg"},
         {},
         {"Album/Kyoto"}},
        {"a folder renamed takes what it holds along",
         [&] {
             shell.renameAnswers.push_back("Japan");
             renameFolder(session, "Album/Kyoto");
         },
         {"F Album", "F Album/Empty", "F Album/Japan", "Album/Japan/temple.jpg", "Album/a.jpg"},
         {},
         {"Album"}},
        {"a folder's name that is taken is refused with the reason",
         [&] {
             shell.renameAnswers.push_back("Japan");
             renameFolder(session, "Album/Empty");
         },
         {"F Album", "F Album/Empty", "F Album/Japan", "Album/Japan/temple.jpg", "Album/a.jpg"},
         {std::string("Error:") + text::FolderNotRenamed + " " + std::strerror(EEXIST)},
         {}},
        {"No to the question keeps the folder",
         [&] {
             shell.yesNoAnswers = {false};
             deleteFolder(session, "Album");
         },
         {"F Album", "F Album/Empty", "F Album/Japan", "Album/Japan/temple.jpg", "Album/a.jpg"},
         {},
         {}},
        {"Yes deletes it with everything in it",
         [&] {
             shell.yesNoAnswers = {true};
             deleteFolder(session, "Album");
         },
         {},
         {},
         {}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        shell.clearRecords();
        const auto before = folderStamps(state);
        step.act();
        EXPECT_EQ(tree(state), step.tree);
        std::set<std::string> moved;
        for (const auto& [path, stamp] : folderStamps(state))
            if (const auto was = before.find(path); was != before.end() && was->second != stamp)
                moved.insert(path);
        EXPECT_EQ(moved, step.moved) << "the folders whose time moved";
        std::vector<std::string> told;
        for (const auto& message : shell.messages)
            told.push_back(message.caption + ":" + message.text);
        EXPECT_EQ(told, step.messages);
    }
    EXPECT_EQ(shell.rows.size(), 0u) << "the list follows";
}

// A dropped folder keeps its empty sub-folders, and every file and folder
// its time and the owner's mode bits.
TEST_F(FolderCommands, ADroppedFolderKeepsTimesAndEmptyFolders) {
    shell.newSafePickerAnswers.push_back((root / "sealed.cx").string());
    shell.passwordAnswers.push_back("pw");
    createSafe(session, SafeFormat::Sealed);
    ASSERT_TRUE(isSafeOpen(state));
    struct Kept {
        std::string path; // below the sources, and in the safe
        bool folder;
        std::int64_t seconds;
        std::uint32_t nanoseconds;
        mode_t mode;
    };
    const std::vector<Kept> kept = {
        {"Trip", true, 1'500'000'000, 0, 0700},
        {"Trip/Day 1", true, 1'600'000'000, 250, 0500},
        {"Trip/Day 1/a.jpg", false, 1'700'000'000, 123'456'789, 0600},
        {"Trip/Empty", true, 1'400'000'000, 0, 0700},
        {"Trip/Empty/Deeper", true, 1'300'000'000, 0, 0700},
        {"Trip/notes.txt", false, 1'200'000'000, 0, 0400},
    };
    for (const Kept& item : kept)
        if (item.folder)
            std::filesystem::create_directories(sources / item.path);
        else
            writeFile(sources / item.path, "content");
    // Once everything is made: making a file changes its folder's time.
    for (const Kept& item : kept) {
        const std::string source = (sources / item.path).string();
        const timespec times[2] = {{item.seconds, item.nanoseconds},
                                   {item.seconds, item.nanoseconds}};
        ASSERT_EQ(::chmod(source.c_str(), item.mode), 0);
        ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
    }
    shell.yesNoAnswers = {false};
    addDroppedFiles(session, {(sources / "Trip").string()});
    std::vector<ContentEntry> expected;
    for (const Kept& item : kept)
        expected.push_back(
            {item.path, item.folder ? ContentKind::Folder : ContentKind::File,
             item.folder ? 0u : 7u,
             EntryStamp{item.seconds, item.nanoseconds, static_cast<std::uint16_t>(item.mode)}});
    EXPECT_EQ(contentsOf(state).entries(state), expected);
}

// "path/" for a folder, "path SECONDS" for a file, everything below folder.
std::vector<std::string> treeWithTimes(const std::filesystem::path& folder) {
    std::vector<std::string> found;
    for (const auto& item : std::filesystem::recursive_directory_iterator(folder)) {
        const std::string path = item.path().lexically_relative(folder).string();
        struct stat status {};
        if (::stat(item.path().c_str(), &status) != 0)
            found.push_back(path + " unreadable");
        else if (item.is_directory())
            found.push_back(path + "/");
        else
            found.push_back(path + " " + std::to_string(status.st_mtim.tv_sec));
    }
    std::sort(found.begin(), found.end());
    return found;
}

// Extract of a folder's row (the window hands over the files below it, in
// entry order, and the folder's path) makes their folders again below the
// folder chosen, with the files' times, and the folders that hold nothing.
TEST_F(FolderCommands, ExtractMakesTheTreeBelowTheChosenFolder) {
    shell.newSafePickerAnswers.push_back((root / "sealed.cx").string());
    shell.passwordAnswers.push_back("pw");
    createSafe(session, SafeFormat::Sealed);
    ASSERT_TRUE(isSafeOpen(state));
    const std::vector<std::pair<std::string, std::int64_t>> files = {
        {"Trip/Day 1/a.jpg", 1'700'000'000},
        {"Trip/Day 1/b.jpg", 1'600'000'000},
        {"Trip/notes.txt", 1'500'000'000}};
    for (const auto& [path, seconds] : files) {
        std::filesystem::create_directories((sources / path).parent_path());
        writeFile(sources / path, path);
        const timespec times[2] = {{seconds, 0}, {seconds, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (sources / path).c_str(), times, 0), 0);
    }
    std::filesystem::create_directories(sources / "Trip/Day 2/Empty");
    shell.yesNoAnswers = {false};
    addDroppedFiles(session, {(sources / "Trip").string()});
    const auto rowOf = [&](const std::string& path) {
        for (std::size_t row = 0; row < state.entryDetails.size(); ++row)
            if (state.entryDetails[row].name == path)
                return static_cast<int>(row);
        return -1;
    };
    struct Case {
        const char* what;
        std::vector<std::string> selected; // the files the selected rows stand for
        std::vector<std::string> folders;  // the folder rows selected
        std::vector<std::string> tree;     // below the chosen folder afterwards
    };
    const std::vector<Case> cases = {
        {"a sub-folder's row",
         {"Trip/Day 1/a.jpg", "Trip/Day 1/b.jpg"},
         {"Trip/Day 1"},
         {"Trip/", "Trip/Day 1/", "Trip/Day 1/a.jpg 1700000000", "Trip/Day 1/b.jpg 1600000000"}},
        {"the top folder's row",
         {"Trip/Day 1/a.jpg", "Trip/Day 1/b.jpg", "Trip/notes.txt"},
         {"Trip"},
         {"Trip/", "Trip/Day 1/", "Trip/Day 1/a.jpg 1700000000", "Trip/Day 1/b.jpg 1600000000",
          "Trip/Day 2/", "Trip/Day 2/Empty/", "Trip/notes.txt 1500000000"}},
        {"an empty folder's row alone",
         {},
         {"Trip/Day 2"},
         {"Trip/", "Trip/Day 2/", "Trip/Day 2/Empty/"}},
        {"files without their folder's row",
         {"Trip/notes.txt"},
         {},
         {"Trip/", "Trip/notes.txt 1500000000"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::set<int> rows;
        for (const std::string& path : c.selected)
            rows.insert(rowOf(path));
        ASSERT_EQ(rows.count(-1), 0u);
        const std::filesystem::path chosen = out / c.what;
        std::filesystem::create_directories(chosen);
        shell.selectedFolderPaths = c.folders;
        shell.messages.clear();
        extractRows(rows, chosen);
        EXPECT_TRUE(shell.messages.empty()) << shell.messages.front().text;
        EXPECT_EQ(treeWithTimes(chosen), c.tree);
        for (const std::string& path : c.selected)
            EXPECT_EQ(readFile(chosen / path), path);
    }
}

TEST_F(FolderCommands, APlainSafeKeepsItsFlatListAndSaysWhy) {
    openEmptySafe();
    std::filesystem::create_directories(sources / "Album");
    writeFile(sources / "Album" / "a.jpg", "aaa");
    shell.yesNoAnswers = {false};
    addDroppedFiles(session, {(sources / "Album").string()});
    ASSERT_EQ(shell.rows.size(), 1u);
    EXPECT_EQ(shell.rows[0].name, "a.jpg");
    ASSERT_FALSE(shell.messages.empty());
    EXPECT_EQ(shell.messages.back().text, text::FoldersLeftOut);

    shell.clearRecords();
    newFolder(session, "");
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(shell.messages[0].text, text::FoldersOnlyInSealedSafes);
    EXPECT_TRUE(shell.renameAnswers.empty()) << "nothing is asked first";
}

} // namespace
} // namespace quorvane::test
