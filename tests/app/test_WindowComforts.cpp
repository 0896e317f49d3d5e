// File > Close Safe writes the safe and keeps the window; the window's size
// and column widths come back at the next start, from the settings file the
// tool reads too, without disturbing what else that file says.

#include "app/CommandIds.h"
#include "app/DesktopProgram.h"
#include "app/EntryListView.h"
#include "app/WindowMemory.h"
#include "entries/Entries.h"
#include "tests/app/DialogScript.h"
#include "tests/app/SafeFixture.h"
#include "watch/CloseSettings.h"

#include <QMenuBar>
#include <QMessageBox>

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

namespace quorvane {
namespace {

namespace fs = std::filesystem;

class WindowComfortsTest : public ::testing::Test {
  protected:
    test::TempFolder folder;
    fs::path safe = folder.path() / "papers.cx";
    const std::string password = "correct horse";

    void SetUp() override { ::setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1); }

    void start(DesktopProgram& program) {
        test::DialogScript script;
        script.expectPassword(QString::fromStdString(password));
        const std::string path = safe.string();
        const char* argv[] = {"quorvane", path.c_str()};
        ASSERT_TRUE(program.openStartupSafeIfGiven(readCommandLine(2, argv)));
        program.window().show();
    }
};

TEST_F(WindowComfortsTest, CloseSafeWritesItAndKeepsTheWindowForTheNext) {
    test::makeSafe(safe, password, {{"letter.txt", "Dear reader"}});
    const auto added = folder.write("added.txt", "new");
    DesktopProgram program;
    start(program);
    {
        test::DialogScript script;
        script.expectQuestion(QStringLiteral("Delete Original File"),
                              QStringLiteral("Would you like to Securely Erase the original "
                                             "files?\n\nThis is 1 file, 3 B in all."),
                              false);
        addDroppedFiles(program.session(), {added.string()});
        ASSERT_TRUE(script.waitUntilDone());
    }
    program.window().routeCommand(command::CloseSafe);

    EXPECT_FALSE(isSafeOpen(program.state()));
    EXPECT_FALSE(program.window().hasEnded());
    EXPECT_EQ(program.window().entryList()->entryCount(), 0);
    EXPECT_EQ(program.window().windowTitle(), QStringLiteral("Quorvane"));
    EXPECT_FALSE(program.window().toolbarAction(command::Save)->isEnabled());
    EXPECT_EQ(test::listSafe(safe, password),
              (std::vector<test::ListRow>{{"0", "letter.txt", "11 Bytes"},
                                          {"1", "added.txt", "3 Bytes"}}));
}

// A write that fails (the safe's folder became read-only) keeps the safe
// open with its change, and says so.
TEST_F(WindowComfortsTest, CloseSafeThatCannotWriteKeepsTheSafeOpen) {
    const fs::path shelf = folder.path() / "shelf";
    fs::create_directory(shelf);
    safe = shelf / "papers.cx";
    test::makeSafe(safe, password, {{"letter.txt", "Dear reader"}});
    DesktopProgram program;
    start(program);
    // Root writes anywhere: the folder goes away instead.
    const fs::path moved = folder.path() / "moved";
    fs::rename(shelf, moved);
    test::DialogScript script;
    script.expect("the failed save", [](QWidget* widget) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(box->text().startsWith(QStringLiteral("Failed to Save file!")));
        box->accept();
    });
    program.window().routeCommand(command::CloseSafe);
    EXPECT_TRUE(script.waitUntilDone());
    EXPECT_TRUE(isSafeOpen(program.state()));
    EXPECT_EQ(program.window().entryList()->entryCount(), 1);
    fs::rename(moved, shelf);
}

TEST_F(WindowComfortsTest, SizeAndWidthsComeBackAndTheCloseSettingsStay) {
    fs::create_directories(folder.path() / "config" / "quorvane");
    test::writeFile(settingsFilePath(), "[Closing]\nOnSleep=false\nIdleMinutes=7\n");
    {
        SafeState state;
        QtShell shell;
        Session session{state, shell};
        MainWindow window(session, [] { return false; });
        window.resize(700, 420);
        window.entryList()->setColumnWidth(0, 90);
        window.entryList()->setColumnWidth(2, 150);
        rememberWindowShape(window);
    }
    const CloseSettings kept = readCloseSettings(settingsFilePath());
    EXPECT_FALSE(kept.onSleep) << "the tool's settings are left as they were";
    ASSERT_TRUE(kept.idle.has_value());
    EXPECT_EQ(*kept.idle, std::chrono::minutes(7));

    DesktopProgram program;
    EXPECT_EQ(program.window().size(), QSize(700, 420));
    EXPECT_EQ(program.window().entryList()->columnWidth(0), 90);
    EXPECT_EQ(program.window().entryList()->columnWidth(2), 150);
}

// What a damaged or hand-edited file says is not taken: the window keeps
// its first size and widths.
TEST_F(WindowComfortsTest, UnusableValuesAreNotTaken) {
    fs::create_directories(folder.path() / "config" / "quorvane");
    for (const char* text : {"[Window]\nSize=@Size(20 30)\nColumnWidths=abc,-5,99999\n",
                             "[Window]\nSize=wide\nColumnWidths=\n"}) {
        SCOPED_TRACE(text);
        test::writeFile(settingsFilePath(), text);
        DesktopProgram program;
        EXPECT_EQ(program.window().size(), QSize(517, 500));
        EXPECT_EQ(program.window().entryList()->columnWidth(0), 128);
        EXPECT_EQ(program.window().entryList()->columnWidth(2), 80);
    }
}

} // namespace
} // namespace quorvane
