#include "entries/Messages.h"
#include "lifecycle/EntryListing.h"
#include "lifecycle/Lifecycle.h"
#include "storage/format/SafeCipher.h"
#include "tests/entries/EntriesFixture.h"
#include "tests/support/WorkingCopyBytes.h"

namespace quorvane::test {
namespace {

namespace text = entries_text;

const std::string FileDeleted = "message:Success!:File deleted";

std::vector<StoredFile> threeFiles() {
    return {{"alpha", "A content"}, {"beta", "BB content"}, {"gamma", "CCC content"}};
}

using DeleteCommand = EntriesTest;

TEST_F(DeleteCommand, WithoutAFocusedRowSaysDeleteFailed) {
    openContainer(containerBytes(threeFiles()));
    const std::string before = workingCopyBytes();
    shell.selected = {0, 1};
    deleteFile(session);
    EXPECT_EQ(shell.events, (std::vector<std::string>{"message:No File Selected:Delete failed."}));
    EXPECT_EQ(shell.messages[0].icon, MessageIcon::Error);
    EXPECT_EQ(session.CurrentRow, -1);
    EXPECT_EQ(workingCopyBytes(), before);
}

TEST_F(DeleteCommand, WithoutAnOpenSafeHidesTheBoxBeforeSayingSo) {
    shell.focused = 0;
    deleteFile(session);
    EXPECT_EQ(shell.events,
              (std::vector<std::string>{"progress:Removing File...", "hide",
                                        "message:Unknown Error:Unable to Open File."}));
}

TEST_F(DeleteCommand, RemovesOnlyTheFocusedRowWithoutAQuestion) {
    openContainer(containerBytes(threeFiles()));
    shell.selected = {0, 1, 2};
    shell.focused = 1;
    deleteFile(session);
    EXPECT_EQ(shell.events,
              (std::vector<std::string>{"progress:Removing File...", "hide", FileDeleted}));
    EXPECT_EQ(shell.messages[0].icon, MessageIcon::Information);
    EXPECT_EQ(shell.busySteps, 1);
    EXPECT_EQ(shell.rows,
              (std::vector<ListRow>{{"0", "alpha", "9 Bytes"}, {"1", "gamma", "11 Bytes"}}));
    EXPECT_EQ(state.entryCount, 2u);
}

// The rows after a removed one move up a number, down to an empty list of a
// safe that stays open; their contents are the storage tests' business.
TEST_F(DeleteCommand, RowZeroRenumbersTheOthersDownToAnEmptyList) {
    openContainer(containerBytes(threeFiles()));
    shell.focused = 0;
    deleteFile(session);
    EXPECT_EQ(shell.rows,
              (std::vector<ListRow>{{"0", "beta", "10 Bytes"}, {"1", "gamma", "11 Bytes"}}));
    deleteFile(session);
    deleteFile(session);
    EXPECT_TRUE(shell.rows.empty());
    EXPECT_EQ(state.entryCount, 0u);
    EXPECT_TRUE(isSafeOpen(state));
}

TEST_F(DeleteCommand, AFailedRemovalIsReportedAndNotCalledDone) {
    openContainer(containerBytes(threeFiles()));
    const std::string before = workingCopyBytes();
    // An index that claims more bytes than the working copy has is refused
    // by the removal before it moves anything.
    state.workingCopyLength += 1000;
    shell.focused = 0;
    deleteFile(session);
    EXPECT_EQ(shell.events,
              (std::vector<std::string>{"progress:Removing File...", "hide",
                                        std::string("message:Error:") + text::DeleteNotDone}));
    EXPECT_EQ(workingCopyBytes(), before);
    EXPECT_EQ(shell.rows.size(), 3u); // refreshed from the file
}

using RenameCommand = EntriesTest;

TEST_F(RenameCommand, WithoutAFocusedRowSaysRenameFailed) {
    openContainer(containerBytes(threeFiles()));
    shell.selected = {2};
    renameFile(session);
    EXPECT_EQ(shell.events, (std::vector<std::string>{"message:Unknown Error:Rename failed."}));
    EXPECT_EQ(shell.messages[0].icon, MessageIcon::Error);
}

TEST_F(RenameCommand, CancelChangesNothingAndMinusOneIsAName) {
    openContainer(containerBytes(threeFiles()));
    const std::string before = workingCopyBytes();
    shell.focused = 1;
    shell.renameAnswers = {std::nullopt, std::string("-1")};
    renameFile(session);
    EXPECT_EQ(shell.events, (std::vector<std::string>{"rename"}));
    EXPECT_EQ(workingCopyBytes(), before);
    renameFile(session);
    EXPECT_EQ(shell.rows[1], (ListRow{"1", "-1", "10 Bytes"}));
    EXPECT_EQ(workingCopyBytes(),
              containerBytes({threeFiles()[0], {"-1", "BB content"}, threeFiles()[2]}));
}

TEST_F(RenameCommand, WritesOnlyTheFiftyNameBytesOfTheFocusedRowAndSaysNothing) {
    openContainer(containerBytes(threeFiles()));
    const std::string before = workingCopyBytes();
    shell.selected = {0};
    shell.focused = 2;
    shell.renameAnswers = {std::string("renamed.txt")};
    renameFile(session);
    EXPECT_EQ(shell.events, (std::vector<std::string>{"rename"}));
    EXPECT_EQ(shell.busySteps, 0);
    EXPECT_EQ(shell.rows[2], (ListRow{"2", "renamed.txt", "11 Bytes"}));
    EXPECT_EQ(workingCopyBytes(),
              containerBytes({threeFiles()[0], threeFiles()[1], {"renamed.txt", "CCC content"}}));
    EXPECT_EQ(workingCopyBytes().size(), before.size());
}

// A name that extracting would refuse is refused with the reason, and the
// entry keeps its name; any other text is taken.
TEST_F(RenameCommand, RefusesEveryNameThatExtractingWouldRefuse) {
    openContainer(containerBytes(threeFiles()));
    const std::string before = workingCopyBytes();
    const std::vector<std::pair<std::string, const char*>> refused = {
        {"", text::RenameRefusedEmpty},
        {".", text::RenameRefusedDots},
        {"..", text::RenameRefusedDots},
        {"../up", text::RenameRefusedSeparator},
        {"a/b", text::RenameRefusedSeparator},
        {"/", text::RenameRefusedSeparator},
        {"line\nbreak", text::RenameRefusedControl},
        {"tab\there", text::RenameRefusedControl},
        {"\x1b[31mred", text::RenameRefusedControl},
        {"del\x7f", text::RenameRefusedControl},
        {"c1 \xc2\x9b", text::RenameRefusedControl},
    };
    shell.focused = 0;
    for (const auto& [name, reason] : refused) {
        shell.clearRecords();
        shell.renameAnswers = {name};
        renameFile(session);
        EXPECT_EQ(shell.events,
                  (std::vector<std::string>{"rename", std::string("message:Error:") + reason}))
            << name;
        EXPECT_EQ(workingCopyBytes(), before) << name;
    }
    for (const std::string& name :
         std::vector<std::string>{"beta", "...", ".hidden", "back\\slash",
                                  "caf\xc3\xa9 \xf0\x9f\x93\xb7", std::string(49, 'n')}) {
        shell.clearRecords();
        shell.renameAnswers = {name};
        renameFile(session);
        EXPECT_EQ(shell.events, (std::vector<std::string>{"rename"})) << name;
        EXPECT_EQ(shell.rows[0].name, name);
    }
}

// Delete replaces the working copy's file; everything after it must work on
// the same open safe, and the safe written at the end must hold the result.
TEST_F(EntriesTest, AfterADeleteAddExtractRenameDeleteAndSaveWorkWithoutReopening) {
    openContainer(containerBytes(threeFiles()));
    shell.focused = 0;
    deleteFile(session);
    addKeepingOriginal(source("delta", "DDDD"));
    EXPECT_EQ(shell.rows.back(), (ListRow{"2", "delta", "4 Bytes"}));
    extractRows({2}, out);
    EXPECT_EQ(readFile(out / "delta"), "DDDD");
    shell.focused = 2;
    shell.renameAnswers = {std::string("delta-renamed")};
    renameFile(session);
    shell.focused = 0;
    deleteFile(session);
    EXPECT_EQ(shell.rows, (std::vector<ListRow>{{"0", "gamma", "11 Bytes"},
                                                {"1", "delta-renamed", "4 Bytes"}}));

    state.safePath = (root / "safe.cx").string();
    state.password = "correct horse";
    ASSERT_TRUE(writeSafeFile(session, "Saving...").written());
    const std::optional<std::string> saved = decryptedSafe(state.safePath, state.password);
    ASSERT_TRUE(saved.has_value());

    ScriptedShell fresh;
    SafeState other;
    putWorkingCopy(other.workingCopy, root / "reopened", *saved);
    refreshEntryList(other, fresh);
    EXPECT_EQ(fresh.rows, shell.rows);
    EXPECT_TRUE(fresh.messages.empty());
    Session otherSession{other, fresh};
    fresh.selected = {0, 1};
    fresh.folderAnswers.push_back((root / "again").string());
    std::filesystem::create_directory(root / "again");
    extractFiles(otherSession);
    EXPECT_EQ(readFile(root / "again" / "gamma"), "CCC content");
    EXPECT_EQ(readFile(root / "again" / "delta-renamed"), "DDDD");
}

} // namespace
} // namespace quorvane::test
