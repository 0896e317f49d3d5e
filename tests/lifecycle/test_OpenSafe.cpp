// Open Safe and the start-up open: every road, in order, with its texts.

#include "tests/lifecycle/LifecycleFixture.h"
#include "tests/support/ChildProcess.h"

#include <sys/stat.h>
#include <unistd.h>

#include <tuple>

namespace quorvane::test {
namespace {

using Events = std::vector<std::string>;
using Messages = std::vector<ShownMessage>;

const ShownMessage invalidFileOrPassword{"Invalid File or Password", "Error", MessageIcon::Error};

class OpenSafeTest : public LifecycleTest {
  protected:
    void SetUp() override {
        LifecycleTest::SetUp();
        safe = root / "first.cx";
        firstContainer = containerBytes({{"notes.txt", "first safe notes"}, {"b.bin", "bb"}});
        writeSafe(safe, "secret", firstContainer);
    }

    std::filesystem::path safe;
    std::string firstContainer;
};

TEST_F(OpenSafeTest, RightPasswordListsEntriesAndEnablesTheButtons) {
    shell.openPickerAnswers.push_back(safe.string());
    shell.passwordAnswers.push_back("secret");
    openSafe(session);

    EXPECT_EQ(shell.events, (Events{"pick-open:", "password",
                                    "progress:Opening Safe Please Wait...", "hide", "buttons:on"}));
    EXPECT_TRUE(shell.messages.empty());
    EXPECT_TRUE(isSafeOpen(state));
    EXPECT_TRUE(shell.buttonsEnabled);
    EXPECT_EQ(shell.busySteps, 1);
    EXPECT_EQ(state.safePath, safe.string());
    EXPECT_EQ(shell.rows,
              (std::vector<ListRow>{{"0", "notes.txt", "16 Bytes"}, {"1", "b.bin", "2 Bytes"}}));
    EXPECT_EQ(workingCopyContent(*state.workingCopy), firstContainer);
}

TEST_F(OpenSafeTest, WorkingCopyIsPrivateAndShowsNothingOfTheSafe) {
    openThroughOpenSafe(safe, "secret");
    struct stat status {};
    // Nothing is written until the first change; then only encrypted sectors.
    ASSERT_NE(::stat(workingCopyPath(state).c_str(), &status), 0);
    rewriteWorkingCopy(workingCopyContent(*state.workingCopy));
    ASSERT_EQ(::stat(workingCopyPath(state).c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    const std::string raw = readFile(workingCopyPath(state));
    EXPECT_EQ(raw.find("notes.txt"), std::string::npos);
    EXPECT_EQ(raw.find("first safe notes"), std::string::npos);
}

TEST_F(OpenSafeTest, CancelInThePickerKeepsTheOpenSafeAndItsRows) {
    openThroughOpenSafe(safe, "secret");
    const std::string safeBytes = readFile(safe);
    const auto rows = shell.rows;
    shell.clearRecords();
    shell.openPickerAnswers.push_back(std::nullopt);
    openSafe(session);
    EXPECT_EQ(shell.events, (Events{"pick-open:" + safe.string()}));
    EXPECT_TRUE(isSafeOpen(state));
    EXPECT_EQ(shell.rows, rows);
    EXPECT_EQ(state.safePath, safe.string());
    EXPECT_EQ(readFile(safe), safeBytes);
}

TEST_F(OpenSafeTest, PickerStartsOnTheLastSafePathEvenAfterARefusal) {
    shell.openPickerAnswers.push_back(safe.string());
    shell.passwordAnswers.push_back("wrong");
    openSafe(session);
    shell.clearRecords();
    shell.openPickerAnswers.push_back(std::nullopt);
    openSafe(session);
    EXPECT_EQ(shell.events, (Events{"pick-open:" + safe.string()}));
}

TEST_F(OpenSafeTest, CancelInThePasswordDialogTriesTheCancelMarkerAndRefuses) {
    shell.openPickerAnswers.push_back(safe.string());
    shell.passwordAnswers.push_back(std::nullopt);
    openSafe(session);
    EXPECT_EQ(shell.events,
              (Events{"pick-open:", "password", "progress:Opening Safe Please Wait...", "hide",
                      "message:Error:Invalid File or Password", "buttons:off"}));
    EXPECT_EQ(shell.messages, Messages{invalidFileOrPassword});
    EXPECT_EQ(state.password, "!!!!K");
    EXPECT_FALSE(isSafeOpen(state));
    EXPECT_TRUE(shell.rows.empty());
}

TEST_F(OpenSafeTest, SafeWhosePasswordIsTheCancelMarkerOpensOnCancel) {
    const auto markerSafe = root / "marker.cx";
    writeSafe(markerSafe, "!!!!K", containerBytes({{"m", "1"}}));
    shell.openPickerAnswers.push_back(markerSafe.string());
    shell.passwordAnswers.push_back(std::nullopt);
    openSafe(session);
    EXPECT_TRUE(isSafeOpen(state));
    EXPECT_EQ(shell.rows.size(), 1u);
}

TEST_F(OpenSafeTest, WrongPasswordRefusesAndLeavesNothingThenTheRightOneOpens) {
    shell.openPickerAnswers.push_back(safe.string());
    shell.passwordAnswers.push_back("Secret");
    openSafe(session);
    EXPECT_EQ(shell.messages, Messages{invalidFileOrPassword});
    EXPECT_FALSE(isSafeOpen(state));
    EXPECT_FALSE(shell.buttonsEnabled);
    EXPECT_EQ(state.safePath, safe.string());
    EXPECT_EQ(state.password, "Secret");
    EXPECT_EQ(folderListing(workDir), std::vector<std::string>{}) << "plaintext left behind";

    shell.clearRecords();
    openThroughOpenSafe(safe, "secret");
    EXPECT_TRUE(shell.messages.empty());
    EXPECT_EQ(shell.rows.size(), 2u);
}

// The safe that was open has ended on the way, so an open that does not go
// through leaves the state "no safe open", toolbar included.
TEST_F(OpenSafeTest, AFailedOpenAfterAnOpenSafeSwitchesTheSafeButtonsOff) {
    const auto notASafe = root / "not-a-safe.cx";
    writeFile(notASafe, std::string(4096, '\x5A'));
    std::filesystem::create_directory(root / "folder.cx");
    const std::pair<std::filesystem::path, std::string> cases[] = {{safe, "wrong"},
                                                                   {notASafe, "secret"}};
    for (const auto& [path, password] : cases) {
        openThroughOpenSafe(safe, "secret");
        shell.clearRecords();
        shell.openPickerAnswers.push_back(path.string());
        shell.passwordAnswers.push_back(password);
        openSafe(session);
        EXPECT_FALSE(isSafeOpen(state));
        EXPECT_TRUE(shell.rows.empty());
        EXPECT_FALSE(shell.buttonsEnabled) << path;
        EXPECT_EQ(shell.events.back(), "buttons:off");
        EXPECT_EQ(shell.messages.size(), 1u);
    }
    // A choice that cannot be read at all is refused before the open safe is left.
    openThroughOpenSafe(safe, "secret");
    shell.clearRecords();
    shell.openPickerAnswers.push_back((root / "folder.cx").string());
    openSafe(session);
    EXPECT_TRUE(isSafeOpen(state));
    EXPECT_EQ(shell.messages.back().text, "The safe could not be read: Is a directory");
}

TEST_F(OpenSafeTest, FilesThatAreNoSafeAreRefused) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"random.cx", std::string(4096, '\x5A')},
        {"iv-only.cx", std::string(16, '\x01')},
        {"short.cx", "abc"},
        {"empty.cx", ""},
        {"odd-length.cx", readFile(safe).substr(0, 40)},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        writeFile(root / name, bytes);
        shell.clearRecords();
        shell.openPickerAnswers.push_back((root / name).string());
        shell.passwordAnswers.push_back("secret");
        openSafe(session);
        EXPECT_EQ(shell.messages, Messages{invalidFileOrPassword});
        EXPECT_FALSE(isSafeOpen(state));
        EXPECT_EQ(folderListing(workDir), std::vector<std::string>{});
    }
}

// What cannot be read is told with the system's reason before any password
// is asked, and the open safe stays open; as the tool tells it.
TEST_F(OpenSafeTest, ASafeThatCannotBeReadIsToldBeforeThePassword) {
    const auto locked = root / "locked.cx";
    writeSafe(locked, "secret", firstContainer);
    ::chmod(locked.c_str(), 0);
    openThroughOpenSafe(safe, "secret");
    for (const auto& [path, reason] : std::vector<std::pair<std::filesystem::path, std::string>>{
             {root / "missing.cx", "No such file or directory"},
             {root, "Is a directory"},
             {locked, "Permission denied"}}) {
        // Root reads everything: the locked safe is tried as another user.
        const int code = runInChild([&, path = path, reason = reason] {
            ASSERT_TRUE(path != locked || ::geteuid() != 0 || ::setresuid(1001, 1001, 1001) == 0);
            shell.clearRecords();
            shell.openPickerAnswers.push_back(path.string());
            openSafe(session);
            EXPECT_EQ(shell.events,
                      (Events{"pick-open:" + safe.string(),
                              "message:Error:The safe could not be read: " + reason}));
            EXPECT_TRUE(isSafeOpen(state));
        });
        EXPECT_EQ(code, 0) << path;
    }
}

TEST_F(OpenSafeTest, EmptySafeListsNothingAndSaysNothing) {
    const auto emptySafe = root / "empty-safe.cx";
    writeSafe(emptySafe, "", emptyContainerBytes());
    shell.openPickerAnswers.push_back(emptySafe.string());
    shell.passwordAnswers.push_back("");
    openSafe(session);
    EXPECT_TRUE(isSafeOpen(state));
    EXPECT_TRUE(shell.rows.empty());
    EXPECT_TRUE(shell.messages.empty());
    EXPECT_TRUE(shell.buttonsEnabled);
}

TEST_F(OpenSafeTest, WrongVersionSaysIncompattibleAfterTheBusyBoxAndStillOpens) {
    const auto oldSafe = root / "v1.cx";
    writeSafe(oldSafe, "pw", containerBytes({{"legacy", "12"}}, 1));
    shell.openPickerAnswers.push_back(oldSafe.string());
    shell.passwordAnswers.push_back("pw");
    openSafe(session);
    EXPECT_EQ(shell.events,
              (Events{"pick-open:", "password", "progress:Opening Safe Please Wait...", "hide",
                      "message:Error:Incompattible file", "buttons:on"}));
    EXPECT_TRUE(isSafeOpen(state));
    EXPECT_EQ(shell.rows, (std::vector<ListRow>{{"0", "legacy", "2 Bytes"}}));
}

TEST_F(OpenSafeTest, SecondSafeIsListedAndTheFirstSafesChangesAreSavedFirst) {
    const auto second = root / "second.cx";
    writeSafe(second, "other", containerBytes({{"second-only", "2"}}));
    openThroughOpenSafe(safe, "secret");
    const std::string changed =
        containerBytes({{"notes.txt", "first safe notes"}, {"b.bin", "bb"}, {"added", "new data"}});
    rewriteWorkingCopy(changed);
    shell.clearRecords();

    shell.openPickerAnswers.push_back(second.string());
    shell.passwordAnswers.push_back("other");
    openSafe(session);

    EXPECT_EQ(shell.events,
              (Events{"pick-open:" + safe.string(), "progress:Saving Safe Please Wait...", "hide",
                      "password", "progress:Opening Safe Please Wait...", "hide", "buttons:on"}));
    EXPECT_TRUE(shell.messages.empty());
    EXPECT_EQ(state.safePath, second.string());
    EXPECT_EQ(shell.rows, (std::vector<ListRow>{{"0", "second-only", "1 Bytes"}}));
    EXPECT_EQ(decryptedSafe(safe, "secret"), changed);
    EXPECT_EQ(workingCopyContent(*state.workingCopy), containerBytes({{"second-only", "2"}}));
}

TEST_F(OpenSafeTest, FailedSaveOfTheOpenSafeStopsWithItStillOpen) {
    const auto folder = root / "vanishing";
    std::filesystem::create_directory(folder);
    const auto doomed = folder / "doomed.cx";
    writeSafe(doomed, "pw", containerBytes({{"x", "1"}}));
    openThroughOpenSafe(doomed, "pw");
    const std::string changed = containerBytes({{"x", "1"}, {"y", "2"}});
    rewriteWorkingCopy(changed);
    std::filesystem::remove_all(folder);
    shell.clearRecords();

    shell.openPickerAnswers.push_back(safe.string());
    openSafe(session);

    EXPECT_EQ(shell.events,
              (Events{"pick-open:" + doomed.string(), "progress:Saving Safe Please Wait...", "hide",
                      "message:Error:Failed to Save file!\nNo such file or directory"}));
    EXPECT_EQ(shell.messages.back().icon, MessageIcon::Error);
    EXPECT_TRUE(isSafeOpen(state));
    EXPECT_EQ(state.safePath, doomed.string());
    EXPECT_EQ(shell.rows.size(), 2u);
    EXPECT_EQ(workingCopyContent(*state.workingCopy), changed);
}

TEST_F(OpenSafeTest, ReopeningTheOpenSafeKeepsItsChanges) {
    openThroughOpenSafe(safe, "secret");
    const std::string changed =
        containerBytes({{"notes.txt", "first safe notes"}, {"b.bin", "bb"}, {"c", "see"}});
    rewriteWorkingCopy(changed);
    openThroughOpenSafe(safe, "secret");
    EXPECT_EQ(shell.rows.size(), 3u);
    EXPECT_EQ(workingCopyContent(*state.workingCopy), changed);
}

class StartupOpenTest : public OpenSafeTest {};

TEST_F(StartupOpenTest, RightPasswordOpensBeforeTheWindowShows) {
    shell.passwordAnswers.push_back("secret");
    EXPECT_EQ(openStartupSafe(session, safe.string()), 0);
    EXPECT_EQ(shell.events,
              (Events{"password", "progress:Opening File Please Wait...", "hide", "buttons:on"}));
    EXPECT_TRUE(isSafeOpen(state));
    EXPECT_EQ(state.safePath, safe.string());
    EXPECT_EQ(shell.rows.size(), 2u);
}

// A wrong password or Cancel (which tries the cancel marker): -1 after the
// refusal, and no plaintext left.
TEST_F(StartupOpenTest, RefusalsReturnMinusOne) {
    const std::vector<std::tuple<std::filesystem::path, std::optional<std::string>, std::string>>
        cases = {{safe, "nope", "nope"}, {safe, std::nullopt, "!!!!K"}};
    for (const auto& [path, answer, password] : cases) {
        SCOPED_TRACE(password + " for " + path.string());
        shell.clearRecords();
        shell.passwordAnswers.push_back(answer);
        EXPECT_EQ(openStartupSafe(session, path.string()), -1);
        EXPECT_EQ(shell.events, (Events{"password", "progress:Opening File Please Wait...", "hide",
                                        "message:Error:Invalid File or Password", "buttons:off"}));
        EXPECT_EQ(shell.messages, Messages{invalidFileOrPassword});
        EXPECT_EQ(state.password, password);
        EXPECT_FALSE(isSafeOpen(state));
        EXPECT_EQ(state.safePath, path.string());
        EXPECT_EQ(folderListing(workDir), std::vector<std::string>{});
    }
}

// A missing file asks no password: the window shows, with no safe open.
TEST_F(StartupOpenTest, AMissingSafeIsToldWithoutAskingThePassword) {
    EXPECT_EQ(openStartupSafe(session, (root / "no-such.cx").string()), 0);
    EXPECT_EQ(shell.events,
              (Events{"message:Error:The safe could not be read: No such file or directory"}));
    EXPECT_FALSE(isSafeOpen(state));
}

TEST_F(StartupOpenTest, LongPathIsNoProblem) {
    auto folder = root;
    for (int i = 0; i < 6; ++i)
        folder /= std::string(60, static_cast<char>('a' + i));
    std::filesystem::create_directories(folder);
    const auto deep = folder / "deep.cx";
    ASSERT_GT(deep.string().size(), 259u);
    writeSafe(deep, "secret", firstContainer);
    shell.passwordAnswers.push_back("secret");
    EXPECT_EQ(openStartupSafe(session, deep.string()), 0);
    EXPECT_EQ(shell.rows.size(), 2u);
}

} // namespace
} // namespace quorvane::test
