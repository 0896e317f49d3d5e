// New Safe: every road, in order, with its texts.

#include "tests/lifecycle/LifecycleFixture.h"
#include "tests/support/ChildProcess.h"

#include <sys/stat.h>

namespace quorvane::test {
namespace {

using Events = std::vector<std::string>;
using Messages = std::vector<ShownMessage>;

const Events createdAndOpened = {"message:Information:File Created Successfully",
                                 "progress:Opening Safe Please Wait...", "hide", "buttons:on"};

class CreateSafeTest : public LifecycleTest {
  protected:
    void SetUp() override {
        LifecycleTest::SetUp();
        chosen = root / "new.cx";
    }

    void answerNewSafe(const std::filesystem::path& path, std::optional<std::string> password) {
        shell.newSafePickerAnswers.push_back(path.string());
        shell.passwordAnswers.push_back(std::move(password));
    }

    std::filesystem::path chosen;
};

TEST_F(CreateSafeTest, CreatesOpensAndListsNothing) {
    answerNewSafe(chosen, "fresh");
    createSafe(session);

    Events expected = {"pick-new", "password", "confirm-password"};
    expected.insert(expected.end(), createdAndOpened.begin(), createdAndOpened.end());
    EXPECT_EQ(shell.events, expected);
    EXPECT_EQ(shell.messages,
              (Messages{{"File Created Successfully", "Information", MessageIcon::Information}}));
    EXPECT_TRUE(isSafeOpen(state));
    EXPECT_TRUE(shell.buttonsEnabled);
    EXPECT_TRUE(shell.rows.empty());
    EXPECT_EQ(state.safePath, chosen.string());
    EXPECT_EQ(std::filesystem::file_size(chosen), 48u);
    EXPECT_EQ(decryptedSafe(chosen, "fresh"), emptyContainerBytes());
    struct stat status {};
    ASSERT_EQ(::stat(chosen.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u) << "the new safe is private";
    EXPECT_EQ(folderListing(workDir), std::vector<std::string>{})
        << "an open that changed nothing writes nothing";
    EXPECT_EQ(folderListing(root), (std::vector<std::string>{"cwd", "new.cx", "work"}));
}

TEST_F(CreateSafeTest, CancelInThePickerDoesNothing) {
    shell.newSafePickerAnswers.push_back(std::nullopt);
    createSafe(session);
    EXPECT_EQ(shell.events, Events{"pick-new"});
    EXPECT_FALSE(isSafeOpen(state));
    EXPECT_EQ(folderListing(workDir), std::vector<std::string>{});
}

TEST_F(CreateSafeTest, CancelInThePasswordDialogLeavesNoFileAnywhere) {
    answerNewSafe(chosen, std::nullopt);
    createSafe(session);
    EXPECT_EQ(shell.events, (Events{"pick-new", "password"}));
    EXPECT_FALSE(std::filesystem::exists(chosen));
    EXPECT_EQ(folderListing(workDir), std::vector<std::string>{});
    EXPECT_FALSE(isSafeOpen(state));
}

// The new password is typed twice. Only the same text twice makes the safe;
// otherwise nothing is made and the safe that was open keeps its password.
TEST_F(CreateSafeTest, TheNewPasswordIsConfirmedAndAMismatchMakesNothing) {
    const auto existing = root / "existing.cx";
    writeSafe(existing, "pw", containerBytes({{"kept", "k"}}));
    const std::pair<std::optional<std::string>, Events> cases[] = {
        {"Fresh", {"message:Error:The passwords do not match."}},
        {std::nullopt, {}},
        {"fresh", createdAndOpened}};
    for (const auto& [confirmation, after] : cases) {
        openThroughOpenSafe(existing, "pw");
        shell.clearRecords();
        answerNewSafe(chosen, "fresh");
        shell.confirmAnswers.push_back(confirmation);
        createSafe(session);
        Events expected = {"pick-new", "progress:Saving Safe Please Wait...", "hide", "password",
                           "confirm-password"};
        expected.insert(expected.end(), after.begin(), after.end());
        EXPECT_EQ(shell.events, expected);
        const bool made = confirmation == "fresh";
        EXPECT_EQ(state.safePath, made ? chosen.string() : existing.string());
        EXPECT_EQ(state.password, made ? "fresh" : "pw");
        EXPECT_EQ(std::filesystem::exists(chosen), made);
    }
}

TEST_F(CreateSafeTest, CancelKeepsTheSafeThatWasOpen) {
    const auto existing = root / "existing.cx";
    writeSafe(existing, "pw", containerBytes({{"kept", "k"}}));
    openThroughOpenSafe(existing, "pw");
    shell.clearRecords();
    answerNewSafe(chosen, std::nullopt);
    createSafe(session);
    EXPECT_TRUE(isSafeOpen(state));
    EXPECT_EQ(state.safePath, existing.string());
    EXPECT_EQ(state.password, "pw") << "the open safe would be saved under the cancel marker";
    EXPECT_EQ(shell.rows.size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(chosen));
    // The open safe is written under its own password, not the dialog's text.
    EXPECT_EQ(state.password, "pw");
}

// Cancel is the dialog's answer: the text of its cancel marker, typed and
// confirmed, is a password like any other.
TEST_F(CreateSafeTest, TheCancelMarkerTypedAndConfirmedMakesASafe) {
    answerNewSafe(chosen, "!!!!K");
    createSafe(session);
    EXPECT_TRUE(isSafeOpen(state));
    EXPECT_EQ(decryptedSafe(chosen, "!!!!K"), emptyContainerBytes());
}

// A file already at the chosen path is replaced; the empty password makes a
// safe under the key of the empty text.
TEST_F(CreateSafeTest, ReplacesAnExistingFileAndTakesTheEmptyPassword) {
    writeFile(chosen, std::string(10000, 'q'));
    answerNewSafe(chosen, "");
    createSafe(session);
    EXPECT_TRUE(isSafeOpen(state));
    EXPECT_EQ(std::filesystem::file_size(chosen), 48u);
    EXPECT_EQ(decryptedSafe(chosen, ""), emptyContainerBytes());
    EXPECT_NE(decryptedSafe(chosen, "x"), emptyContainerBytes());
}

// A path in a missing folder, or one that is a folder: one message, and the
// folder and what it holds stay.
TEST_F(CreateSafeTest, APathWhereNoFileCanBeMadeSaysFileCreationFailedOnce) {
    const auto folder = root / "a-folder";
    std::filesystem::create_directory(folder);
    writeFile(folder / "inside", "keep");
    const std::pair<std::filesystem::path, std::string> cases[] = {
        {root / "no-such-folder" / "new.cx", "No such file or directory"},
        {folder, "Is a directory"}};
    for (const auto& [path, reason] : cases) {
        SCOPED_TRACE(path.string());
        shell.clearRecords();
        answerNewSafe(path, "pw");
        createSafe(session);
        const std::string text = "File Creation Failed!\n" + reason;
        EXPECT_EQ(shell.events, (Events{"pick-new", "message:Error:" + text}))
            << "told before the password is asked";
        EXPECT_EQ(shell.messages, (Messages{{text, "Error", MessageIcon::Error}}));
        EXPECT_FALSE(isSafeOpen(state));
        EXPECT_EQ(folderListing(workDir), std::vector<std::string>{});
        EXPECT_EQ(readFile(folder / "inside"), "keep");
    }
}

TEST_F(CreateSafeTest, FailedWritingSaysFileCreationFailedWithTheSystemsReason) {
    // A file size limit below the 48 bytes of the new safe makes its writing fail.
    const int code = runInChild([&] {
        const FileSizeLimit limit(20);
        answerNewSafe(chosen, "pw");
        createSafe(session);
        ASSERT_EQ(shell.messages.size(), 1u);
        EXPECT_EQ(shell.messages[0], (ShownMessage{"File Creation Failed!\nFile too large", "Error",
                                                   MessageIcon::Error}));
        EXPECT_FALSE(isSafeOpen(state));
        EXPECT_FALSE(std::filesystem::exists(chosen));
        EXPECT_EQ(folderListing(root), (std::vector<std::string>{"cwd", "work"}));
        EXPECT_EQ(folderListing(workDir), std::vector<std::string>{});
    });
    EXPECT_EQ(code, 0);
}

TEST_F(CreateSafeTest, WithASafeOpenItIsSavedFirstThenTheNewOneIsListed) {
    const auto existing = root / "existing.cx";
    writeSafe(existing, "pw", containerBytes({{"kept", "k"}}));
    openThroughOpenSafe(existing, "pw");
    const std::string changed = containerBytes({{"kept", "k"}, {"more", "mm"}});
    rewriteWorkingCopy(changed);
    shell.clearRecords();

    answerNewSafe(chosen, "fresh");
    createSafe(session);

    Events expected = {"pick-new", "progress:Saving Safe Please Wait...", "hide", "password",
                       "confirm-password"};
    expected.insert(expected.end(), createdAndOpened.begin(), createdAndOpened.end());
    EXPECT_EQ(shell.events, expected);
    EXPECT_EQ(decryptedSafe(existing, "pw"), changed);
    EXPECT_EQ(state.safePath, chosen.string());
    EXPECT_TRUE(shell.rows.empty());
    EXPECT_EQ(workingCopyContent(*state.workingCopy), emptyContainerBytes());
}

TEST_F(CreateSafeTest, FailedSaveOfTheOpenSafeStopsBeforeAnythingIsCreated) {
    const auto folder = root / "vanishing";
    std::filesystem::create_directory(folder);
    const auto doomed = folder / "doomed.cx";
    writeSafe(doomed, "pw", containerBytes({{"x", "1"}}));
    openThroughOpenSafe(doomed, "pw");
    std::filesystem::remove_all(folder);
    shell.clearRecords();

    shell.newSafePickerAnswers.push_back(chosen.string());
    createSafe(session);
    EXPECT_EQ(shell.events,
              (Events{"pick-new", "progress:Saving Safe Please Wait...", "hide",
                      "message:Error:Failed to Save file!\nNo such file or directory"}));
    EXPECT_TRUE(isSafeOpen(state));
    EXPECT_EQ(state.safePath, doomed.string());
    EXPECT_FALSE(std::filesystem::exists(chosen));
}

TEST_F(CreateSafeTest, NewSafeTakesEntriesAndReopensWithThem) {
    answerNewSafe(chosen, "pw");
    createSafe(session);
    const std::string changed = containerBytes({{"added", "content"}});
    rewriteWorkingCopy(changed);
    EXPECT_EQ(shell.rows, (std::vector<ListRow>{{"0", "added", "7 Bytes"}}));
    ASSERT_TRUE(closeRequested(session, CloseEntry::SaveAndExit));
    EXPECT_EQ(decryptedSafe(chosen, "pw"), changed);
}

} // namespace
} // namespace quorvane::test
