// One program at a time has a safe open, and no save replaces a safe file
// that changed since it was opened: another program's work is never thrown
// away unseen.

#include "lifecycle/LifecycleTexts.h"
#include "storage/files/AtomicReplace.h"
#include "tests/lifecycle/LifecycleFixture.h"
#include "tests/support/ChildProcess.h"

namespace quorvane::test {
namespace {

class OneProgramPerSafe : public LifecycleTest {
  protected:
    void SetUp() override {
        LifecycleTest::SetUp();
        safe = root / "box.cx";
        writeSafe(safe, "pw", original);
    }

    // In a second process, as another window would: opens the safe and
    // reports whether it could.
    bool anotherProgramOpens() {
        const int code = runInChild([&] {
            const std::filesystem::path otherWork = root / "other-work";
            std::filesystem::create_directories(otherWork);
            SafeState otherState;
            otherState.workDir = otherWork;
            ScriptedShell otherShell;
            Session other{otherState, otherShell};
            otherShell.passwordAnswers.push_back("pw");
            openStartupSafe(other, safe.string());
            const bool refused = !isSafeOpen(otherState);
            if (refused) {
                EXPECT_EQ(otherShell.messages.back().text, lifecycle_text::SafeInUse);
            }
            discardWorkingCopy(otherState);
            std::exit(::testing::Test::HasFailure() ? 1 : refused ? 10 : 11);
        });
        EXPECT_TRUE(code == 10 || code == 11) << "the other program failed: " << code;
        return code == 11;
    }

    std::filesystem::path safe;
    const std::string original = containerBytes({{"a.txt", "alpha"}});
    const std::string changed = containerBytes({{"a.txt", "alpha"}, {"b.txt", "beta"}});
};

TEST_F(OneProgramPerSafe, TheLockHoldsFromOpenToCloseAndFollowsEachSave) {
    openThroughOpenSafe(safe, "pw");
    EXPECT_FALSE(anotherProgramOpens());

    // A save puts a new file in place of the old one: the lock moves with it.
    rewriteWorkingCopy(changed);
    saveSafe(session);
    ASSERT_EQ(shell.messages.back().text, "Changes Saved");
    EXPECT_FALSE(anotherProgramOpens());

    EXPECT_TRUE(closeRequested(session, CloseEntry::SaveAndExit));
    EXPECT_TRUE(anotherProgramOpens());
    EXPECT_EQ(decryptedSafe(safe, "pw"), changed);
}

TEST_F(OneProgramPerSafe, ASafeFileChangedByAnotherProgramIsNotReplaced) {
    openThroughOpenSafe(safe, "pw");
    rewriteWorkingCopy(changed);
    // Another program, one that ignores locks, puts its own safe in place.
    const std::string theirs = containerBytes({{"theirs.txt", "their work"}});
    const auto elsewhere = root / "theirs.cx";
    writeSafe(elsewhere, "pw", theirs);
    std::filesystem::rename(elsewhere, safe);
    shell.clearRecords();

    saveSafe(session);
    EXPECT_EQ(shell.messages.back().text,
              std::string("Failed to Save file!\n") + TargetChangedReason);
    EXPECT_EQ(decryptedSafe(safe, "pw"), theirs);
    EXPECT_TRUE(isSafeOpen(state)) << "what the session holds can still be extracted";
    EXPECT_EQ(folderListing(root), (std::vector<std::string>{"box.cx", "cwd", "work"}));
}

} // namespace
} // namespace quorvane::test
