// Save, the three ways of closing, and Change Password.

#include "tests/lifecycle/LifecycleFixture.h"

namespace quorvane::test {
namespace {

using Events = std::vector<std::string>;
using Messages = std::vector<ShownMessage>;

const ShownMessage changesSaved{"Changes Saved", "Success!", MessageIcon::Information};
// The folder of the safe is gone in these tests: the reason says so.
const ShownMessage failedToSave{"Failed to Save file!\nNo such file or directory", "Error",
                                MessageIcon::Error};

class SaveCloseTest : public LifecycleTest {
  protected:
    void SetUp() override {
        LifecycleTest::SetUp();
        folder = root / "safes";
        std::filesystem::create_directory(folder);
        safe = folder / "box.cx";
        original = containerBytes({{"a.txt", "alpha"}, {"b.txt", "beta"}});
        changed = containerBytes({{"a.txt", "alpha"}, {"b.txt", "beta"}, {"c.txt", "gamma"}});
        writeSafe(safe, "pw", original);
        openThroughOpenSafe(safe, "pw");
        shell.clearRecords();
    }

    // Makes the safe's folder vanish (moved aside, so the old safe can be compared).
    void moveFolderAway() { std::filesystem::rename(folder, root / "moved"); }
    void moveFolderBack() { std::filesystem::rename(root / "moved", folder); }

    std::filesystem::path folder;
    std::filesystem::path safe;
    std::string original;
    std::string changed;
};

TEST_F(SaveCloseTest, SaveWithNoSafeOpenOnlyConfirms) {
    discardWorkingCopy(state);
    saveSafe(session);
    EXPECT_EQ(shell.events, Events{"message:Success!:Changes Saved"});
    EXPECT_EQ(shell.messages, Messages{changesSaved});
}

TEST_F(SaveCloseTest, SaveWritesTheChangesAndKeepsTheSafeOpen) {
    rewriteWorkingCopy(changed);
    const auto rows = shell.rows;
    const int busyBefore = shell.busySteps;
    saveSafe(session);
    EXPECT_EQ(shell.events, (Events{"progress:Saving Safe Please Wait...", "hide",
                                    "message:Success!:Changes Saved"}));
    EXPECT_EQ(shell.messages, Messages{changesSaved});
    EXPECT_EQ(decryptedSafe(safe, "pw"), changed);
    EXPECT_TRUE(isSafeOpen(state));
    EXPECT_EQ(shell.rows, rows);
    EXPECT_EQ(shell.busySteps, busyBefore + 1) << "the encryption runs as one busy step";
}

TEST_F(SaveCloseTest, EverySaveWritesWhatChangedSinceTheSaveBefore) {
    // After a save the working copy reads through the new safe file; what is
    // changed after it must reach the next save, and nothing of the old file.
    for (const std::string& content : {changed, original, changed}) {
        shell.clearRecords();
        ASSERT_TRUE(state.workingCopy->writeAt(0, content.data(), content.size()));
        ASSERT_TRUE(state.workingCopy->resize(content.size()));
        saveSafe(session);
        EXPECT_EQ(shell.messages, Messages{changesSaved});
        EXPECT_EQ(decryptedSafe(safe, "pw"), content);
        EXPECT_EQ(workingCopyContent(*state.workingCopy), content);
    }
}

TEST_F(SaveCloseTest, SavesInARowEachWriteTheLatestContent) {
    rewriteWorkingCopy(changed);
    saveSafe(session);
    const std::string third = containerBytes(
        {{"a.txt", "alpha"}, {"b.txt", "beta"}, {"c.txt", "gamma"}, {"d.txt", "delta"}});
    rewriteWorkingCopy(third);
    saveSafe(session);
    EXPECT_EQ(decryptedSafe(safe, "pw"), third);
    EXPECT_EQ(folderListing(folder), std::vector<std::string>{"box.cx"});
}

TEST_F(SaveCloseTest, FailedSaveSaysSoKeepsTheSafeOpenAndALaterSaveWorks) {
    rewriteWorkingCopy(changed);
    const std::string before = readFile(safe);
    moveFolderAway();
    saveSafe(session);
    EXPECT_EQ(shell.events, (Events{"progress:Saving Safe Please Wait...", "hide",
                                    "message:Error:" + failedToSave.text}));
    EXPECT_EQ(shell.messages, Messages{failedToSave});
    EXPECT_TRUE(isSafeOpen(state));
    EXPECT_EQ(readFile(root / "moved" / "box.cx"), before);

    moveFolderBack();
    shell.clearRecords();
    saveSafe(session);
    EXPECT_EQ(shell.messages, Messages{changesSaved});
    EXPECT_EQ(decryptedSafe(safe, "pw"), changed);
}

// Each way of closing writes the changes and removes the plaintext; only
// destruction, where the window is already going, does not end it again.
TEST_F(SaveCloseTest, EveryCloseWritesRemovesThePlaintextAndEndsTheWindow) {
    const std::vector<std::pair<CloseEntry, Events>> closes = {
        {CloseEntry::SaveAndExit, {"progress:Securely Closing Safe...", "hide", "destroy"}},
        {CloseEntry::CloseBox, {"progress:Closing Safe...", "hide", "destroy"}},
        {CloseEntry::Destroy, {"progress:Closing Safe...", "hide"}},
    };
    for (const auto& [entry, events] : closes) {
        SCOPED_TRACE(events.front());
        if (!isSafeOpen(state))
            openThroughOpenSafe(safe, "pw");
        rewriteWorkingCopy(changed);
        shell.clearRecords();
        shell.windowDestroyed = false;
        EXPECT_TRUE(closeRequested(session, entry));
        EXPECT_EQ(shell.events, events);
        EXPECT_TRUE(shell.messages.empty());
        EXPECT_EQ(shell.windowDestroyed, entry != CloseEntry::Destroy);
        EXPECT_FALSE(isSafeOpen(state));
        EXPECT_EQ(folderListing(workDir), std::vector<std::string>{});
        EXPECT_EQ(folderListing(folder), std::vector<std::string>{"box.cx"});
        EXPECT_EQ(decryptedSafe(safe, "pw"), changed);
    }
}

TEST_F(SaveCloseTest, CloseSafeReportsClosedAndFailed) {
    EXPECT_EQ(closeSafe(session, CloseEntry::Destroy), CloseResult::Closed);
    EXPECT_EQ(closeSafe(session, CloseEntry::Destroy), CloseResult::Closed) << "none open";
    openThroughOpenSafe(safe, "pw");
    moveFolderAway();
    EXPECT_EQ(closeSafe(session, CloseEntry::SaveAndExit), CloseResult::Failed);
    EXPECT_TRUE(isSafeOpen(state));
    EXPECT_FALSE(shell.windowDestroyed);
}

TEST_F(SaveCloseTest, NoSafeOpenEndsTheWindowAtOnce) {
    discardWorkingCopy(state);
    EXPECT_TRUE(closeRequested(session, CloseEntry::SaveAndExit));
    EXPECT_EQ(shell.events, Events{"destroy"});
    shell.clearRecords();
    EXPECT_TRUE(closeRequested(session, CloseEntry::CloseBox));
    EXPECT_EQ(shell.events, Events{"destroy"});
    shell.clearRecords();
    EXPECT_TRUE(closeRequested(session, CloseEntry::Destroy));
    EXPECT_EQ(shell.events, Events{});
}

TEST_F(SaveCloseTest, CloseWithoutChangesRewritesTheSafeWithNewBytes) {
    const std::string before = readFile(safe);
    EXPECT_TRUE(closeRequested(session, CloseEntry::SaveAndExit));
    const std::string after = readFile(safe);
    EXPECT_EQ(after.size(), before.size());
    EXPECT_NE(after, before) << "a new IV makes every encryption differ";
    EXPECT_EQ(decryptedSafe(safe, "pw"), original);
}

TEST_F(SaveCloseTest, ReopenedSafeEqualsWhatWasClosed) {
    rewriteWorkingCopy(changed);
    const auto rows = shell.rows;
    ASSERT_TRUE(closeRequested(session, CloseEntry::SaveAndExit));
    shell.clearRecords();
    openThroughOpenSafe(safe, "pw");
    EXPECT_EQ(shell.rows, rows);
    EXPECT_EQ(workingCopyContent(*state.workingCopy), changed);
}

TEST_F(SaveCloseTest, FailedCloseAsksAndNoKeepsEverythingOpen) {
    rewriteWorkingCopy(changed);
    const std::string before = readFile(safe);
    moveFolderAway();
    shell.yesNoAnswers.push_back(false);
    EXPECT_FALSE(closeRequested(session, CloseEntry::SaveAndExit));
    EXPECT_EQ(shell.events, (Events{"progress:Securely Closing Safe...", "hide",
                                    "message:Error:" + failedToSave.text,
                                    "question:Error:Failed to Save file! Close without saving?"}));
    EXPECT_EQ(shell.messages, Messages{failedToSave});
    EXPECT_TRUE(isSafeOpen(state));
    EXPECT_FALSE(shell.windowDestroyed);
    EXPECT_EQ(readFile(root / "moved" / "box.cx"), before);

    // The user puts the folder back and closes again: now it is written.
    moveFolderBack();
    shell.clearRecords();
    EXPECT_TRUE(closeRequested(session, CloseEntry::CloseBox));
    EXPECT_EQ(shell.events, (Events{"progress:Closing Safe...", "hide", "destroy"}));
    EXPECT_EQ(decryptedSafe(safe, "pw"), changed);
}

TEST_F(SaveCloseTest, FailedCloseAndYesGivesTheChangesUpAndLeavesNothing) {
    rewriteWorkingCopy(changed);
    const std::string before = readFile(safe);
    moveFolderAway();
    shell.yesNoAnswers.push_back(true);
    EXPECT_TRUE(closeRequested(session, CloseEntry::CloseBox));
    EXPECT_EQ(shell.events.back(), "destroy");
    EXPECT_FALSE(isSafeOpen(state));
    EXPECT_EQ(folderListing(workDir), std::vector<std::string>{});
    EXPECT_EQ(readFile(root / "moved" / "box.cx"), before);
    EXPECT_EQ(folderListing(root / "moved"), std::vector<std::string>{"box.cx"});
}

TEST_F(SaveCloseTest, FailedCloseOnDestructionAsksNothingAndLeavesNothing) {
    moveFolderAway();
    EXPECT_TRUE(closeRequested(session, CloseEntry::Destroy));
    EXPECT_EQ(shell.events,
              (Events{"progress:Closing Safe...", "hide", "message:Error:" + failedToSave.text}));
    EXPECT_FALSE(isSafeOpen(state));
    EXPECT_EQ(folderListing(workDir), std::vector<std::string>{});
}

class ChangePasswordTest : public SaveCloseTest {};

TEST_F(ChangePasswordTest, OkSaysSoAndTheNextCloseUsesTheNewPassword) {
    shell.passwordAnswers.push_back("brand new");
    changePassword(session);
    EXPECT_EQ(shell.events, (Events{"password", "confirm-password",
                                    "message:Success:Your password has been changed."}));
    EXPECT_EQ(shell.messages,
              (Messages{{"Your password has been changed.", "Success", MessageIcon::Information}}));
    EXPECT_EQ(state.password, "brand new");
    EXPECT_EQ(decryptedSafe(safe, "pw"), original) << "nothing is written before the close";
    ASSERT_TRUE(closeRequested(session, CloseEntry::SaveAndExit));
    // A wrong key passes the padding check about once in 256: compare contents.
    EXPECT_NE(decryptedSafe(safe, "pw"), original);
    EXPECT_EQ(decryptedSafe(safe, "brand new"), original);
}

// A mistyped new password would lock the safe for good: it is typed twice,
// and a confirmation that differs changes nothing.
TEST_F(ChangePasswordTest, AConfirmationThatDiffersChangesNothing) {
    shell.passwordAnswers.push_back("brand new");
    shell.confirmAnswers.push_back("brand mew");
    changePassword(session);
    EXPECT_EQ(shell.events, (Events{"password", "confirm-password",
                                    "message:Error:The passwords do not match."}));
    EXPECT_EQ(state.password, "pw");
    ASSERT_TRUE(closeRequested(session, CloseEntry::SaveAndExit));
    EXPECT_EQ(decryptedSafe(safe, "pw"), original);
}

TEST_F(ChangePasswordTest, CancelPutsThePreviousPasswordBack) {
    shell.passwordAnswers.push_back(std::nullopt);
    changePassword(session);
    EXPECT_EQ(shell.events, Events{"password"});
    EXPECT_TRUE(shell.messages.empty());
    EXPECT_EQ(state.password, "pw");
    ASSERT_TRUE(closeRequested(session, CloseEntry::SaveAndExit));
    EXPECT_EQ(decryptedSafe(safe, "pw"), original);
}

TEST_F(ChangePasswordTest, WorksWithNoSafeOpen) {
    discardWorkingCopy(state);
    shell.passwordAnswers.push_back("later");
    changePassword(session);
    EXPECT_EQ(state.password, "later");
    EXPECT_EQ(shell.messageTexts(), std::vector<std::string>{"Your password has been changed."});
}

// The next save already uses the new password, cut to the longest a
// password may be; an empty field makes the empty password.
TEST_F(ChangePasswordTest, SaveUsesTheNewPasswordAtOnce) {
    const std::string longest(249, 'p');
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"rekeyed", "rekeyed"}, {"", ""}, {longest + "overflow", longest}};
    for (const auto& [typed, password] : cases) {
        SCOPED_TRACE(typed);
        shell.clearRecords();
        shell.passwordAnswers.push_back(typed);
        changePassword(session);
        EXPECT_EQ(shell.messageTexts(),
                  std::vector<std::string>{"Your password has been changed."});
        EXPECT_EQ(state.password, password);
        saveSafe(session);
        EXPECT_EQ(decryptedSafe(safe, password), original);
    }
}

} // namespace
} // namespace quorvane::test
