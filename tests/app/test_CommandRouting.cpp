// Every command id reaches its operation, and nothing else does: routed
// against the scripted port with no safe open, each id's first words to the
// user show which operation ran.

#include "app/CommandIds.h"
#include "app/CommandRouting.h"
#include "lifecycle/SafeState.h"
#include "tests/app/DialogScript.h"
#include "tests/support/ScriptedShell.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvane {
namespace {

class CommandRoutingTest : public ::testing::Test {
  protected:
    SafeState state;
    test::ScriptedShell shell;
    Session session{state, shell};
};

TEST_F(CommandRoutingTest, EachIdStartsItsOwnOperation) {
    struct Case {
        int id;
        std::string firstEvent;
    };
    const std::vector<Case> cases = {
        {command::NewSafe, "pick-new"},
        {command::OpenSafe, "pick-open:"},
        {command::Save, "message:Success!:Changes Saved"},
        {command::AddFile, "pick-add"},
        {command::DeleteFile, "message:No File Selected:Delete failed."},
        {command::DeleteRow, "message:No File Selected:Delete failed."},
        {command::RenameFile, "message:Unknown Error:Rename failed."},
        {command::Extract, "folder:Select a Directory"},
        {command::ChangePassword, "password"},
        {command::SaveAndExit, "destroy"},
    };
    for (const Case& c : cases) {
        shell.clearRecords();
        // Every picker and dialog is cancelled.
        shell.newSafePickerAnswers = {std::nullopt};
        shell.openPickerAnswers = {std::nullopt};
        shell.addFilePickerAnswers = {std::nullopt};
        shell.folderAnswers = {std::nullopt};
        shell.passwordAnswers = {std::nullopt};
        EXPECT_TRUE(routeCommand(session, nullptr, c.id)) << c.id;
        // With no safe open every command says one thing or asks one thing
        // first; both delete ids run the same handler.
        ASSERT_FALSE(shell.events.empty()) << c.id << " did nothing";
        EXPECT_EQ(shell.events.front(), c.firstEvent) << "command " << c.id;
    }
}

// Seal Safe does nothing without a safe (the window greys it), so it is
// routed with a plain safe open: its question comes first.
TEST_F(CommandRoutingTest, SealSafeAsksBeforeItSealsTheOpenSafe) {
    test::TempFolder folder;
    state.workingCopy = std::make_unique<WorkingCopy>(folder / "temp2");
    shell.yesNoAnswers = {false};
    EXPECT_TRUE(routeCommand(session, nullptr, command::SealSafe));
    ASSERT_EQ(shell.questions.size(), 1u);
    EXPECT_EQ(shell.events, std::vector<std::string>{"question:Seal Safe:" + shell.questions[0]});
}

TEST_F(CommandRoutingTest, AboutShowsTheAboutBox) {
    test::DialogScript script;
    script.expectAbout();
    EXPECT_TRUE(routeCommand(session, nullptr, command::About));
    EXPECT_EQ(script.pending(), 0u);
    EXPECT_TRUE(shell.events.empty());
}

TEST_F(CommandRoutingTest, IdsOutsideTheTableDoNothing) {
    test::DialogScript script; // any dialog would fail the test
    for (int id : {0,     -1,
                   1,     2,
                   103,   106,
                   107,   108,
                   109,   110,
                   130,   200,
                   1000,  32770,
                   32775, 32776,
                   32777, 32782,
                   32791, 32794,
                   65535, 0x10000 + command::Save}) {
        EXPECT_FALSE(routeCommand(session, nullptr, id)) << id;
    }
    EXPECT_TRUE(shell.events.empty());
}

} // namespace
} // namespace quorvane
