// The long steps (decrypting, encrypting) run inside runBusy, report their
// progress through byteProgress, and never reach the shell from inside.

#include "tests/lifecycle/LifecycleFixture.h"

#include <atomic>

namespace quorvane::test {
namespace {

// Fails any call into the port made from inside a busy step.
class BusyCheckingShell : public ScriptedShell {
  public:
    bool inside = false;
    std::atomic<int> progressReports{0};

    void runBusy(const std::function<void()>& step) override {
        EXPECT_FALSE(inside) << "busy steps nested";
        EXPECT_TRUE(progressVisible || !expectBoxAroundSteps)
            << "a long step without the busy box shown";
        inside = true;
        ScriptedShell::runBusy(step);
        inside = false;
    }
    ProgressCallback byteProgress() override {
        noteCall("byteProgress");
        return [this](std::uint64_t done, std::uint64_t total) {
            EXPECT_LE(done, total);
            ++progressReports;
        };
    }
    void showMessage(const std::string& text, const std::string& caption,
                     MessageIcon icon) override {
        noteCall("showMessage");
        ScriptedShell::showMessage(text, caption, icon);
    }
    bool askYesNo(const std::string& text, const std::string& caption) override {
        noteCall("askYesNo");
        return ScriptedShell::askYesNo(text, caption);
    }
    std::optional<std::string> askPassword() override {
        noteCall("askPassword");
        return ScriptedShell::askPassword();
    }
    void ShowProgress(const std::string& text) override {
        noteCall("ShowProgress");
        ScriptedShell::ShowProgress(text);
    }
    void HideProgress() override {
        noteCall("HideProgress");
        ScriptedShell::HideProgress();
    }
    void showRows(std::vector<EntryRow> shown) override {
        noteCall("showRows");
        ScriptedShell::showRows(std::move(shown));
    }
    void appendRow(EntryRow row) override {
        noteCall("appendRow");
        ScriptedShell::appendRow(std::move(row));
    }
    void SetSafeButtonsEnabled(bool enabled) override {
        noteCall("SetSafeButtonsEnabled");
        ScriptedShell::SetSafeButtonsEnabled(enabled);
    }
    void destroyMainWindow() override {
        noteCall("destroyMainWindow");
        ScriptedShell::destroyMainWindow();
    }

    bool expectBoxAroundSteps = true;

  private:
    void noteCall(const char* what) {
        EXPECT_FALSE(inside) << what << " called inside a busy step";
    }
};

class BusyStepTest : public LifecycleTest {
  protected:
    BusyCheckingShell busyShell;
    Session busySession{state, busyShell};
};

TEST_F(BusyStepTest, EveryRoadRunsItsLongStepsBusyWithProgress) {
    const auto safe = root / "busy.cx";
    const std::string content = containerBytes({{"data", std::string(300000, 'd')}});
    writeSafe(safe, "pw", content);

    busyShell.passwordAnswers.push_back("pw");
    ASSERT_EQ(openStartupSafe(busySession, safe.string()), 0);
    EXPECT_EQ(busyShell.busySteps, 1);
    EXPECT_EQ(busyShell.progressReports.load(), 0) << "a plain safe is not decrypted at the open";

    busyShell.progressReports = 0;
    saveSafe(busySession);
    EXPECT_EQ(busyShell.busySteps, 2);
    EXPECT_GT(busyShell.progressReports.load(), 0) << "encryption reported no progress";

    // Another safe for the refusal: the save before it gives this one a
    // fresh random IV, which a wrong password chosen beforehand could pass.
    const auto other = root / "other.cx";
    writeSafe(other, "other", content);
    busyShell.openPickerAnswers.push_back(other.string());
    busyShell.passwordAnswers.push_back(refusedPasswordFor(other));
    openSafe(busySession); // saves, ends the session, then a refused decryption
    EXPECT_EQ(busyShell.busySteps, 5);
    EXPECT_FALSE(isSafeOpen(state));

    busyShell.openPickerAnswers.push_back(safe.string());
    busyShell.passwordAnswers.push_back("pw");
    openSafe(busySession);
    EXPECT_TRUE(isSafeOpen(state));
    EXPECT_TRUE(closeRequested(busySession, CloseEntry::CloseBox));
    EXPECT_EQ(busyShell.busySteps, 8); // the save, and the working copy's removal
    EXPECT_EQ(decryptedSafe(safe, "pw"), content);
}

TEST_F(BusyStepTest, NewSafeEncryptsBusyAndOpensBusy) {
    // The new safe's 16 bytes are encrypted without a busy box of their own.
    busyShell.expectBoxAroundSteps = false;
    busyShell.newSafePickerAnswers.push_back((root / "new.cx").string());
    busyShell.passwordAnswers.push_back("pw");
    createSafe(busySession);
    EXPECT_TRUE(isSafeOpen(state));
    EXPECT_EQ(busyShell.busySteps, 2);
}

} // namespace
} // namespace quorvane::test
