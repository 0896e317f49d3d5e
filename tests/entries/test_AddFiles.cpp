#include "entries/Messages.h"
#include "tests/entries/EntriesFixture.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane::test {
namespace {

namespace text = entries_text;

const std::string AskErase =
    "question:Delete Original File:Would you like to Securely Erase the original file?";
// A drop's question names how many files it is about, and their size.
std::string askEraseAll(const std::string& howMany) {
    return "question:Delete Original File:Would you like to Securely Erase the original "
           "files?\n\n" +
           howMany + " in all.";
}
const std::string AskSure = "question:Delete Original File:Are you Sure?";
const std::string Written = "message:Success:Written Successfully";
// The refusal of a file that cannot be measured names it below the text.
std::string noFilesize(const std::filesystem::path& path) {
    return "message:Error:Unable to get filesize\n" + path.string();
}
const std::string Saving = "progress:Saving Safe Please Wait...";
// The safe's folder is gone where a save fails here.
const std::string SaveFailed = "message:Error:Failed to Save file!\nNo such file or directory";

using AddFileCommand = EntriesTest;

TEST_F(AddFileCommand, StoresTheFileAndSaysSoInTheOriginalOrder) {
    openEmptySafe();
    auto path = source("a.txt", "hello");
    addKeepingOriginal(path);

    EXPECT_EQ(shell.events, (std::vector<std::string>{"pick-add", AskErase,
                                                      "progress:Adding File...", "hide", Written}));
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(shell.messages[0].icon, MessageIcon::Information);
    EXPECT_EQ(shell.busySteps, 1);
    EXPECT_EQ(shell.rows, (std::vector<ListRow>{{"0", "a.txt", "5 Bytes"}}));
    // The stored name is the part after the last '/'; the record is byte exact.
    EXPECT_EQ(workingCopyBytes(), containerBytes({{"a.txt", "hello"}}));
    EXPECT_EQ(readFile(path), "hello");
}

TEST_F(AddFileCommand, CancelledPickerEndsSilently) {
    openEmptySafe();
    const std::string before = workingCopyBytes();
    shell.addFilePickerAnswers.push_back(std::nullopt);
    addFile(session);
    EXPECT_EQ(shell.events, (std::vector<std::string>{"pick-add"}));
    EXPECT_EQ(workingCopyBytes(), before);
}

TEST_F(AddFileCommand, WithoutAnOpenSafeAsksFirstThenRefuses) {
    shell.addFilePickerAnswers.push_back(source("a.txt", "abc").string());
    shell.yesNoAnswers.push_back(true);
    addFile(session);
    EXPECT_EQ(shell.events,
              (std::vector<std::string>{"pick-add", AskErase,
                                        "message:Unknown Error:Unable to Open File."}));
    EXPECT_EQ(readFile(sources / "a.txt"), "abc");
}

TEST_F(AddFileCommand, EmptyOrMissingFileIsRefusedBeforeAnythingIsWritten) {
    openEmptySafe();
    const std::string before = workingCopyBytes();
    for (const auto& path : {source("empty", ""), sources / "does-not-exist"}) {
        shell.clearRecords();
        addKeepingOriginal(path);
        EXPECT_EQ(shell.events, (std::vector<std::string>{"pick-add", AskErase, noFilesize(path)}))
            << path;
        EXPECT_EQ(shell.messages.back().icon, MessageIcon::Error);
    }
    EXPECT_EQ(shell.busySteps, 0);
    EXPECT_EQ(workingCopyBytes(), before);
    EXPECT_TRUE(shell.rows.empty());
}

TEST_F(AddFileCommand, YesTwiceWritesTheSafeFileThenErasesAndDeletesTheOriginal) {
    openEmptySafe();
    auto path = source("secret.txt", "top secret");
    shell.addFilePickerAnswers.push_back(path.string());
    shell.yesNoAnswers = {true, true};
    bool storedWhenAsked = false;
    shell.onQuestion = [&](const std::string& question) {
        if (question == text::AreYouSure)
            storedWhenAsked = shell.rows.size() == 1 && std::filesystem::exists(path);
    };
    // Steps: append, save, erase. Just before the erase the safe file on disk
    // must already hold the file, and the original must still be whole.
    bool safeFileBeforeSave = true;
    std::string safeAtErase;
    std::string originalAtErase;
    shell.beforeStep = [&](int step) {
        if (step == 1)
            safeFileBeforeSave = std::filesystem::exists(state.safePath);
        if (step == 2) {
            safeAtErase = decryptedSafe(state.safePath, TestPassword).value_or("");
            originalAtErase = readFile(path);
        }
    };
    addFile(session);

    EXPECT_EQ(shell.events,
              (std::vector<std::string>{"pick-add", AskErase, "progress:Adding File...", "hide",
                                        AskSure, Saving, "hide",
                                        "progress:Removing Original File...", "hide", Written}));
    EXPECT_TRUE(storedWhenAsked);
    EXPECT_EQ(shell.busySteps, 3);
    EXPECT_FALSE(safeFileBeforeSave);
    EXPECT_EQ(safeAtErase, containerBytes({{"secret.txt", "top secret"}}));
    EXPECT_EQ(originalAtErase, "top secret");
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(workingCopyBytes(), containerBytes({{"secret.txt", "top secret"}}));
    EXPECT_TRUE(isSafeOpen(state));
}

TEST_F(AddFileCommand, AFailedSaveKeepsTheOriginalAndTheAddedEntry) {
    openContainer(containerBytes({{"old", "old content"}}));
    // The safe's folder is gone, so its file cannot be written.
    std::filesystem::create_directory(root / "safes");
    state.safePath = (root / "safes" / "safe.cx").string();
    std::filesystem::remove(root / "safes");
    auto path = source("secret.txt", "top secret");
    shell.addFilePickerAnswers.push_back(path.string());
    shell.yesNoAnswers = {true, true};
    addFile(session);

    EXPECT_EQ(shell.events,
              (std::vector<std::string>{"pick-add", AskErase, "progress:Adding File...", "hide",
                                        AskSure, Saving, "hide", SaveFailed, Written}));
    ASSERT_EQ(shell.messages.size(), 2u);
    EXPECT_EQ(shell.messages[0].icon, MessageIcon::Error);
    EXPECT_EQ(shell.busySteps, 2); // append and the save; no erase
    EXPECT_EQ(readFile(path), "top secret");
    EXPECT_FALSE(std::filesystem::exists(root / "safes"));
    EXPECT_EQ(workingCopyBytes(),
              containerBytes({{"old", "old content"}, {"secret.txt", "top secret"}}));
    EXPECT_EQ(shell.rows.size(), 2u);
    EXPECT_TRUE(isSafeOpen(state));
}

TEST_F(AddFileCommand, NoToEitherQuestionKeepsTheOriginal) {
    openEmptySafe();
    auto path = source("keep.txt", "keep me");
    shell.addFilePickerAnswers.push_back(path.string());
    shell.yesNoAnswers = {true, false};
    addFile(session);
    EXPECT_EQ(shell.events,
              (std::vector<std::string>{"pick-add", AskErase, "progress:Adding File...", "hide",
                                        AskSure, Written}));
    EXPECT_EQ(readFile(path), "keep me");

    shell.clearRecords();
    addKeepingOriginal(path);
    EXPECT_EQ(readFile(path), "keep me");
    EXPECT_EQ(shell.questions.size(), 1u);
    // Nothing to erase, so nothing is saved: the user saves when they choose.
    EXPECT_FALSE(std::filesystem::exists(state.safePath));
}

// Names after the last '/', cut to the 50-byte field, the same name twice,
// and sizes around the copy block: every file becomes its own row and record.
TEST_F(AddFileCommand, EachAddedFileIsOneRowAndOneExactRecord) {
    openEmptySafe();
    const std::string fifty(50, 'f');
    const std::string sixty = std::string(50, 's') + "0123456789";
    std::vector<StoredFile> added = {
        {"same", "one"}, {"same", "second"}, {fifty, "x"}, {sixty, "yy"}};
    for (std::size_t size :
         {std::size_t{512}, std::size_t{513}, StreamBlockSize, StreamBlockSize + 1})
        added.push_back(
            {"size" + std::to_string(size), patternBytes(size, static_cast<unsigned>(size))});
    std::vector<ListRow> rows;
    for (const StoredFile& file : added) {
        addKeepingOriginal(source(file.name, file.content));
        rows.push_back({std::to_string(rows.size()), file.name.substr(0, 50),
                        std::to_string(file.content.size()) + " Bytes"});
    }
    EXPECT_EQ(shell.rows, rows);
    EXPECT_EQ(workingCopyBytes(), containerBytes(added));
}

using DroppedFiles = EntriesTest;

TEST_F(DroppedFiles, ThreeWithTheSecondEmptyAddNothing) {
    openEmptySafe();
    auto first = source("first", "111");
    auto empty = source("empty", "");
    auto third = source("third", "333");
    shell.yesNoAnswers = {false};
    addDroppedFiles(session, {first.string(), empty.string(), third.string()});

    EXPECT_EQ(shell.events,
              (std::vector<std::string>{askEraseAll("These are 3 files, 6 B"),
                                        noFilesize(empty) + "\n" + text::NothingOfTheDropAdded}));
    EXPECT_TRUE(shell.rows.empty());
    EXPECT_EQ(workingCopyBytes(), emptyContainerBytes());
}

TEST_F(DroppedFiles, WithoutAnOpenSafeBothQuestionsThenOneRefusalPerFile) {
    std::vector<std::string> paths;
    for (const char* name : {"a", "b", "c"})
        paths.push_back(source(name, name).string());
    shell.yesNoAnswers = {true, false};
    addDroppedFiles(session, paths);
    const std::string notOpen = "message:Error:Safe Not open";
    EXPECT_EQ(shell.events, (std::vector<std::string>{askEraseAll("These are 3 files, 3 B"),
                                                      AskSure, notOpen, notOpen, notOpen}));
    for (const auto& path : paths)
        EXPECT_TRUE(std::filesystem::exists(path));
}

TEST_F(DroppedFiles, FiveFilesOneBusyBoxEachAndTheListAfterEach) {
    openEmptySafe();
    std::vector<std::string> paths;
    std::vector<StoredFile> expected;
    for (int i = 0; i < 5; ++i) {
        std::string name = "file" + std::to_string(i);
        std::string content(static_cast<std::size_t>(i + 1), static_cast<char>('a' + i));
        paths.push_back(source(name, content).string());
        expected.push_back({name, content});
    }
    std::vector<std::size_t> rowsSeenAtEachStep;
    shell.beforeStep = [&](int) { rowsSeenAtEachStep.push_back(shell.rows.size()); };
    shell.yesNoAnswers = {false};
    addDroppedFiles(session, paths);

    EXPECT_EQ(shell.progressTexts,
              (std::vector<std::string>{"Adding File 1 of 5...", "Adding File 2 of 5...",
                                        "Adding File 3 of 5...", "Adding File 4 of 5...",
                                        "Adding File 5 of 5..."}));
    EXPECT_EQ(shell.busySteps, 5);
    EXPECT_EQ(rowsSeenAtEachStep, (std::vector<std::size_t>{0, 1, 2, 3, 4}));
    EXPECT_TRUE(shell.messages.empty());
    ASSERT_EQ(shell.rows.size(), 5u);
    EXPECT_EQ(shell.rows[4], (ListRow{"4", "file4", "5 Bytes"}));
    EXPECT_EQ(workingCopyBytes(), containerBytes(expected));
}

TEST_F(DroppedFiles, BothYesSavesAndErasesEachOriginalRightAfterItIsStored) {
    openEmptySafe();
    auto a = source("a", "aaaa");
    auto b = source("b", "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb");
    shell.yesNoAnswers = {true, true};
    std::vector<bool> aExistsBeforeStep;
    std::vector<std::string> safeBeforeErase;
    shell.beforeStep = [&](int step) {
        aExistsBeforeStep.push_back(std::filesystem::exists(a));
        if (step == 2 || step == 5)
            safeBeforeErase.push_back(decryptedSafe(state.safePath, TestPassword).value_or(""));
    };
    addDroppedFiles(session, {a.string(), b.string()});

    EXPECT_EQ(shell.events,
              (std::vector<std::string>{askEraseAll("These are 2 files, 35 B"), AskSure,
                                        "progress:Adding File 1 of 2...", "hide", Saving, "hide",
                                        "progress:Removing Original File...", "hide",
                                        "progress:Adding File 2 of 2...", "hide", Saving, "hide",
                                        "progress:Removing Original File...", "hide"}));
    // Steps: add a, save, erase a, add b, save, erase b.
    EXPECT_EQ(aExistsBeforeStep, (std::vector<bool>{true, true, true, false, false, false}));
    // Before each erase the safe file holds every file stored so far.
    EXPECT_EQ(safeBeforeErase, (std::vector<std::string>{
                                   containerBytes({{"a", "aaaa"}}),
                                   containerBytes({{"a", "aaaa"}, {"b", std::string(31, 'b')}})}));
    EXPECT_FALSE(std::filesystem::exists(a));
    EXPECT_FALSE(std::filesystem::exists(b));
    EXPECT_EQ(workingCopyBytes(), containerBytes({{"a", "aaaa"}, {"b", std::string(31, 'b')}}));
}

TEST_F(DroppedFiles, AFailedSaveKeepsThatOriginalAndStopsTheDrop) {
    openEmptySafe();
    const std::string bContent = patternBytes(5000);
    auto a = source("a", "first file");
    auto b = source("b", bContent);
    auto c = source("c", "third file");
    const std::string withA = containerBytes({{"a", "first file"}});
    const std::string withAB = containerBytes({{"a", "first file"}, {"b", bContent}});
    shell.yesNoAnswers = {true, true};
    // A disk that fills up once the working copy holds b: the save of b (the
    // fifth long step) no longer fits.
    std::optional<FileSizeLimit> diskFull;
    shell.beforeStep = [&](int step) {
        if (step == 4)
            diskFull.emplace(withA.size() + 64);
    };
    addDroppedFiles(session, {a.string(), b.string(), c.string()});
    diskFull.reset();

    EXPECT_EQ(shell.events,
              (std::vector<std::string>{askEraseAll("These are 3 files, 5.0 kB"), AskSure,
                                        "progress:Adding File 1 of 3...", "hide", Saving, "hide",
                                        "progress:Removing Original File...", "hide",
                                        "progress:Adding File 2 of 3...", "hide", Saving, "hide",
                                        "message:Error:Failed to Save file!\nFile too large"}));
    EXPECT_FALSE(std::filesystem::exists(a));
    EXPECT_EQ(readFile(b), bContent);
    EXPECT_EQ(readFile(c), "third file");
    // The safe file is the one written before b, whole; b waits in the
    // working copy for the next save.
    EXPECT_EQ(decryptedSafe(state.safePath, TestPassword), withA);
    EXPECT_EQ(workingCopyBytes(), withAB);
    EXPECT_EQ(folderListing(root), (std::vector<std::string>{"out", "safe.cx", "sources", "work"}));
    EXPECT_TRUE(isSafeOpen(state));
}

TEST_F(DroppedFiles, YesThenNoKeepsEveryOriginal) {
    openEmptySafe();
    auto a = source("a", "aaaa");
    shell.yesNoAnswers = {true, false};
    addDroppedFiles(session, {a.string()});
    EXPECT_EQ(readFile(a), "aaaa");
    EXPECT_EQ(shell.rows.size(), 1u);
    EXPECT_EQ(shell.progressTexts, (std::vector<std::string>{"Adding File 1 of 1..."}));
    EXPECT_FALSE(std::filesystem::exists(state.safePath));
}

// --- sizes the format cannot hold ---

class TooLargeFiles : public EntriesTest {
  protected:
    // A sparse file: the size is real, the disk holds nothing.
    std::filesystem::path sparse(const std::string& name, std::uint64_t size) {
        auto path = source(name, "");
        std::filesystem::resize_file(path, size);
        return path;
    }
};

// 4 GiB itself, and a file below it that with the safe's bytes and the new
// record would not fit either.
TEST_F(TooLargeFiles, AreRefusedInPlainWordsBeforeAnythingIsWritten) {
    openEmptySafe();
    addKeepingOriginal(source("small", "abc"));
    const std::string before = workingCopyBytes();
    for (const std::uint64_t size : {0x100000000ull, 0xFFFFFFFFull - 100}) {
        SCOPED_TRACE(size);
        shell.clearRecords();
        auto huge = sparse("huge" + std::to_string(size), size);
        shell.addFilePickerAnswers.push_back(huge.string());
        shell.yesNoAnswers = {true};
        addFile(session);

        ASSERT_EQ(shell.events.size(), 3u);
        EXPECT_EQ(shell.events[1], AskErase);
        ASSERT_EQ(shell.messages.size(), 1u);
        EXPECT_EQ(shell.messages[0].caption, "Error");
        EXPECT_EQ(shell.messages[0].icon, MessageIcon::Error);
        EXPECT_EQ(shell.messages[0].text.find(text::FileTooLarge), 0u) << shell.messages[0].text;
        EXPECT_NE(shell.messages[0].text.find(huge.string()), std::string::npos);
        EXPECT_EQ(shell.busySteps, 1); // only the first, small add
        EXPECT_TRUE(shell.progressTexts.empty());
        EXPECT_EQ(workingCopyBytes(), before);
        EXPECT_TRUE(std::filesystem::exists(huge));
    }
}

TEST_F(TooLargeFiles, StopADropLikeAnUnmeasurableFile) {
    openEmptySafe();
    auto first = source("first", "1");
    auto huge = sparse("huge", 0x100000001ull);
    auto third = source("third", "3");
    shell.yesNoAnswers = {true, true};
    addDroppedFiles(session, {first.string(), huge.string(), third.string()});
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(shell.messages[0].text.find(text::FileTooLarge), 0u);
    EXPECT_NE(shell.messages[0].text.find(text::NothingOfTheDropAdded), std::string::npos);
    EXPECT_TRUE(shell.progressTexts.empty());
    EXPECT_EQ(workingCopyBytes(), emptyContainerBytes());
    EXPECT_EQ(readFile(first), "1") << "nothing stored, nothing erased";
    EXPECT_TRUE(std::filesystem::exists(huge));
    EXPECT_EQ(readFile(third), "3");
}

// A dropped folder stands for every regular file in it and below, in the
// order of their paths; links are not followed, and links, FIFOs and empty
// files are listed in one box before the first file goes in.
TEST_F(DroppedFiles, AFolderAddsItsRegularFilesAndListsWhatItLeavesOut) {
    openEmptySafe();
    const auto folder = sources / "photos";
    std::filesystem::create_directories(folder / "b-sub" / "deeper");
    std::filesystem::create_directory(sources / "elsewhere");
    writeFile(folder / "c.jpg", "ccc");
    writeFile(folder / "a.jpg", "a");
    writeFile(folder / "b-sub" / "deeper" / "a.jpg", "deep");
    writeFile(folder / "empty.txt", "");
    writeFile(sources / "elsewhere" / "linked.txt", "must not be added");
    std::filesystem::create_symlink(sources / "elsewhere" / "linked.txt", folder / "file-link");
    std::filesystem::create_directory_symlink(sources / "elsewhere", folder / "folder-link");
    ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
    const auto single = source("single.txt", "1");
    shell.yesNoAnswers = {false};
    addDroppedFiles(session, {folder.string(), single.string()});

    const std::string passedOver =
        "message:Not Added:4 files in the added folders were not added:\n" +
        (folder / "empty.txt").string() + ": " + text::PassedOverEmpty + "\n" +
        (folder / "fifo").string() + ": " + text::PassedOverNotRegular + "\n" +
        (folder / "file-link").string() + ": " + text::PassedOverLink + "\n" +
        (folder / "folder-link").string() + ": " + text::PassedOverLink;
    // The folder is gone through under the busy box, so that the question
    // can say how many files there are.
    ASSERT_GE(shell.events.size(), 4u);
    EXPECT_EQ(shell.events[0], "progress:Looking at the dropped files...");
    EXPECT_EQ(shell.events[2], askEraseAll("These are 4 files, 9 B"));
    EXPECT_EQ(shell.events[3], passedOver);
    // The second a.jpg is told of once, after the last file went in; then
    // that a plain safe kept no folders.
    EXPECT_EQ(shell.events.back(), "message:Not Added:" + std::string(text::FoldersLeftOut));
    EXPECT_EQ(shell.events[shell.events.size() - 2],
              "message:Stored Names:1 stored name is one that another entry has too:\n" +
                  (folder / "b-sub" / "deeper" / "a.jpg").string() +
                  ": stored as a.jpg, which another entry already has");
    EXPECT_EQ(shell.progressTexts,
              (std::vector<std::string>{"Looking at the dropped files...", "Adding File 1 of 4...",
                                        "Adding File 2 of 4...", "Adding File 3 of 4...",
                                        "Adding File 4 of 4..."}));
    EXPECT_EQ(
        workingCopyBytes(),
        containerBytes({{"a.jpg", "a"}, {"a.jpg", "deep"}, {"c.jpg", "ccc"}, {"single.txt", "1"}}));
}

// --- sources that cannot be read in full ---

using UnreadableSources = EntriesTest;

TEST_F(UnreadableSources, AFileThatShrinksBeforeTheCopyLeavesTheSafeAsItWas) {
    openContainer(containerBytes({{"old", "old content"}}));
    const std::string before = workingCopyBytes();
    const std::string content = patternBytes(3 * StreamBlockSize + 7);
    auto path = source("shrinks", content);
    // Measured at its full size, then cut down just before the copy starts.
    shell.beforeStep = [&](int) { std::filesystem::resize_file(path, 1000); };
    shell.addFilePickerAnswers.push_back(path.string());
    shell.yesNoAnswers = {true};
    addFile(session);

    ASSERT_EQ(shell.events.size(), 5u);
    EXPECT_EQ(shell.events[2], "progress:Adding File...");
    EXPECT_EQ(shell.events[3], "hide");
    ASSERT_EQ(shell.messages.size(), 1u);
    const auto& message = shell.messages[0];
    EXPECT_EQ(message.caption, "Error");
    EXPECT_EQ(message.icon, MessageIcon::Error);
    EXPECT_NE(message.text.find("could not be read"), std::string::npos) << message.text;
    EXPECT_NE(message.text.find(path.string()), std::string::npos);
    EXPECT_NE(message.text.find("1000 bytes long now"), std::string::npos) << message.text;
    EXPECT_EQ(workingCopyBytes(), before);
    EXPECT_EQ(shell.rows, (std::vector<ListRow>{{"0", "old", "11 Bytes"}}));
    // Never erased: the question that would lead there is not even asked.
    EXPECT_EQ(readFile(path), content.substr(0, 1000));
    EXPECT_EQ(shell.questions.size(), 1u);
}

TEST_F(UnreadableSources, AFolderIsReportedWithTheSystemsReason) {
    openEmptySafe();
    const std::string before = workingCopyBytes();
    auto folder = sources / "a-folder";
    std::filesystem::create_directory(folder);
    addKeepingOriginal(folder);
    if (shell.messages.size() == 1 && shell.messages[0].text == text::unableToGetFilesizeOf(folder))
        GTEST_SKIP() << "this file system gives folders no size";
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_NE(shell.messages[0].text.find("Is a directory"), std::string::npos)
        << shell.messages[0].text;
    EXPECT_EQ(workingCopyBytes(), before);
    EXPECT_TRUE(std::filesystem::is_directory(folder));
}

TEST_F(UnreadableSources, StopADropAndNoOriginalFromThereOnIsErased) {
    openEmptySafe();
    auto first = source("first", "first");
    auto shrinking = source("shrinking", patternBytes(5000));
    auto third = source("third", "third");
    shell.beforeStep = [&](int step) {
        if (step == 3) // add first, save, erase first, then the second add
            std::filesystem::resize_file(shrinking, 10);
    };
    shell.yesNoAnswers = {true, true};
    addDroppedFiles(session, {first.string(), shrinking.string(), third.string()});

    EXPECT_FALSE(std::filesystem::exists(first));
    EXPECT_TRUE(std::filesystem::exists(shrinking));
    EXPECT_EQ(readFile(third), "third");
    EXPECT_EQ(workingCopyBytes(), containerBytes({{"first", "first"}}));
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_NE(shell.messages[0].text.find(shrinking.string()), std::string::npos);
    EXPECT_EQ(shell.progressTexts.back(), "Adding File 2 of 3...");
}

TEST_F(UnreadableSources, AWorkingCopyThatCannotGrowIsReportedAndLeftAsItWas) {
    openContainer(containerBytes({{"old", "old content"}}));
    const std::string before = workingCopyBytes();
    auto path = source("new", patternBytes(50000));
    shell.addFilePickerAnswers.push_back(path.string());
    shell.yesNoAnswers = {true};
    {
        FileSizeLimit limit(before.size() + 20000); // a disk that fills up mid-copy
        addFile(session);
    }
    EXPECT_EQ(workingCopyBytes(), before);
    EXPECT_EQ(shell.rows, (std::vector<ListRow>{{"0", "old", "11 Bytes"}}));
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(shell.events.back(), "message:Error:" + text::safeNotWritten(path.string()));
    EXPECT_EQ(shell.questions.size(), 1u);
    EXPECT_EQ(readFile(path), patternBytes(50000));
}

TEST_F(UnreadableSources, AnOriginalChangedAfterStoringIsNotErased) {
    openEmptySafe();
    auto path = source("edited", "version one");
    shell.addFilePickerAnswers.push_back(path.string());
    shell.yesNoAnswers = {true, true};
    // Someone saves the file again (same length) while the user is asked.
    shell.onQuestion = [&](const std::string& question) {
        if (question != text::AreYouSure)
            return;
        writeFile(path, "version two");
        struct timespec times[2] = {{0, UTIME_OMIT}, {1000000, 0}};
        ::utimensat(AT_FDCWD, path.c_str(), times, 0);
    };
    addFile(session);

    EXPECT_EQ(readFile(path), "version two");
    EXPECT_EQ(shell.events,
              (std::vector<std::string>{
                  "pick-add", AskErase, "progress:Adding File...", "hide", AskSure, Saving, "hide",
                  "message:Error:" + text::originalChangedNotErased(path.string()), Written}));
    EXPECT_EQ(workingCopyBytes(), containerBytes({{"edited", "version one"}}));
}

// --- originals that must not be erased through their name ---

using KeptOriginals = EntriesTest;

// The picked name is a symbolic link to, or a second hard link of, another
// name: that name's content must survive, and the user hears why.
TEST_F(KeptOriginals, ALinkOrAFileWithAnotherNameIsNotErased) {
    openEmptySafe();
    const auto other = sources / "other";
    const auto picked = sources / "picked";
    using Told = std::string (*)(const std::string&);
    for (const auto& [symbolic, told] :
         {std::pair<bool, Told>{true, text::originalIsLinkNotErased},
          std::pair<bool, Told>{false, text::originalHasOtherNamesNotErased}}) {
        SCOPED_TRACE(symbolic ? "symbolic link" : "hard link");
        writeFile(other, "shared content");
        if (symbolic)
            std::filesystem::create_symlink(other, picked);
        else
            std::filesystem::create_hard_link(other, picked);
        shell.clearRecords();
        shell.addFilePickerAnswers.push_back(picked.string());
        shell.yesNoAnswers = {true, true};
        addFile(session);

        EXPECT_EQ(readFile(other), "shared content");
        EXPECT_EQ(readFile(picked), "shared content");
        EXPECT_EQ(shell.messageTexts(),
                  (std::vector<std::string>{told(picked.string()), text::WrittenSuccessfully}));
        std::filesystem::remove(picked);
    }
    EXPECT_EQ(workingCopyBytes(),
              containerBytes({{"picked", "shared content"}, {"picked", "shared content"}}));
}

TEST_F(KeptOriginals, ALinkSwappedInJustBeforeTheOverwriteIsNotFollowed) {
    openEmptySafe();
    const auto victim = root / "victim";
    writeFile(victim, "unrelated and precious");
    auto path = source("secret", "top secret");
    const auto movedAside = sources / "moved-aside";
    shell.beforeStep = [&](int step) {
        if (step != 2) // append, save, then the erase
            return;
        std::filesystem::rename(path, movedAside);
        std::filesystem::create_symlink(victim, path);
    };
    shell.addFilePickerAnswers.push_back(path.string());
    shell.yesNoAnswers = {true, true};
    addFile(session);

    EXPECT_EQ(readFile(victim), "unrelated and precious");
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    EXPECT_EQ(readFile(movedAside), "ABABABABAB"); // the file that was stored, erased
    EXPECT_EQ(shell.messageTexts(),
              (std::vector<std::string>{text::originalNameNowAnotherFile(path.string()),
                                        text::WrittenSuccessfully}));
}

// --- what the user hears when an overwrite may not reach the old blocks ---

using ErasedOriginals = EntriesTest;

// The verdict is taken inside the erase's busy step, on the descriptor that is
// overwritten, before the overwrite; anything but "reaches" adds one message
// after the erase, and "reaches" adds none.
TEST_F(ErasedOriginals, AVerdictThatDoesNotReachIsToldAfterTheErase) {
    openEmptySafe();
    const auto path = sources / "secret.txt";
    const std::string told = "message:Delete Original File:The original file was deleted, but "
                             "its content may still be recoverable from this disk because btrfs "
                             "writes changes to new places (copy-on-write): " +
                             path.string();
    using Case = std::pair<EraseReach, std::vector<std::string>>; // verdict, the extra message
    for (const auto& [verdict, extra] :
         {Case{{true, EraseObstacle::None, "sda"}, {}},
          Case{{false, EraseObstacle::CopyOnWrite, "btrfs"}, {told}},
          Case{{false, EraseObstacle::InMemory, "tmpfs"},
               {"message:Delete Original File:" +
                text::erasedButRecoverable(path.string(),
                                           {false, EraseObstacle::InMemory, "tmpfs"})}}}) {
        SCOPED_TRACE(verdict.what);
        writeFile(path, "top secret");
        bool busy = false;
        shell.beforeStep = [&](int) { busy = true; };
        shell.afterStep = [&](int) { busy = false; };
        std::string judged;
        session.assessErase = [&](int fd) {
            std::string bytes(10, '\0');
            bytes.resize(
                static_cast<std::size_t>(std::max<ssize_t>(0, ::pread(fd, bytes.data(), 10, 0))));
            judged = (busy ? "busy " : "outside ") +
                     std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd)).string() +
                     " " + bytes;
            return verdict;
        };
        shell.clearRecords();
        shell.addFilePickerAnswers.push_back(path.string());
        shell.yesNoAnswers = {true, true};
        addFile(session);

        EXPECT_EQ(judged, "busy " + path.string() + " top secret");
        EXPECT_FALSE(std::filesystem::exists(path));
        std::vector<std::string> expected = {"pick-add",
                                             AskErase,
                                             "progress:Adding File...",
                                             "hide",
                                             AskSure,
                                             Saving,
                                             "hide",
                                             "progress:Removing Original File...",
                                             "hide"};
        expected.insert(expected.end(), extra.begin(), extra.end());
        expected.push_back(Written);
        EXPECT_EQ(shell.events, expected);
        EXPECT_TRUE(extra.empty() || shell.messages.front().icon == MessageIcon::Information);
    }
}

} // namespace
} // namespace quorvane::test
