// The program as main() runs it: the start-up open of a safe named on the
// command line, drops reaching the real add operation, the close box and
// Save & Exit writing the safe, and the line printed where no display is.

#include "app/CommandIds.h"
#include "app/DesktopProgram.h"
#include "app/DisplayCheck.h"
#include "app/EntryListView.h"
#include "entries/Messages.h"
#include "tests/app/DialogScript.h"
#include "tests/app/SafeFixture.h"
#include "tests/support/SafeBytes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMenuBar>
#include <QMimeData>
#include <QProcess>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

namespace quorvane {
namespace {

using test::DialogScript;
using test::ListRow;

const QString Error = QStringLiteral("Error");

std::vector<ListRow> shownRows(EntryListView* list) {
    std::vector<ListRow> rows;
    for (int row = 0; row < list->entryCount(); ++row)
        rows.push_back({list->entryText(row, 0).toStdString(),
                        list->entryText(row, 1).toStdString(),
                        list->entryText(row, 2).toStdString()});
    return rows;
}

void dropFiles(QWidget* window, const std::vector<std::filesystem::path>& files) {
    QList<QUrl> urls;
    for (const auto& file : files)
        urls << QUrl::fromLocalFile(QString::fromStdString(file.string()));
    QMimeData mime;
    mime.setUrls(urls);
    const QPoint at = window->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &drop);
    ASSERT_TRUE(drop.isAccepted());
}

QAction* menuItem(QMainWindow& window, int id) {
    for (QAction* menu : window.menuBar()->actions())
        for (QAction* item : menu->menu()->actions())
            if (item->data().toInt() == id)
                return item;
    return nullptr;
}

class DesktopProgramTest : public ::testing::Test {
  protected:
    test::TempFolder folder;
    std::filesystem::path safe = folder.path() / "papers.cx";
    const std::string password = "correct horse";

    void makeTwoFileSafe() {
        test::makeSafe(safe, password, {{"letter.txt", "Dear reader"}, {"photo.jpg", "JFIF..."}});
    }

    // Starts the program on the safe as `quorvane SAFE` does, answering the
    // password dialog with typed; what the start-up open returned.
    bool startOn(DesktopProgram& program, const std::string& typed) {
        DialogScript script;
        script.expectPassword(QString::fromStdString(typed));
        const std::string path = safe.string();
        const char* argv[] = {"quorvane", path.c_str()};
        const bool opened = program.openStartupSafeIfGiven(readCommandLine(2, argv));
        EXPECT_EQ(script.pending(), 0u);
        return opened;
    }

    // Drops files on the window, keeping the originals, and waits until the
    // list shows rows rows.
    void dropKeeping(DesktopProgram& program, const std::vector<std::filesystem::path>& files,
                     int rows) {
        DialogScript script;
        std::uintmax_t bytes = 0;
        for (const auto& file : files)
            bytes += std::filesystem::file_size(file);
        script.expectQuestion(
            QStringLiteral("Delete Original File"),
            QString::fromStdString(entries_text::eraseOriginalsQuestion(files.size(), bytes)),
            false);
        dropFiles(&program.window(), files);
        ASSERT_TRUE(script.waitUntilDone());
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return program.window().entryList()->entryCount() == rows; }, 10000));
    }
};

// --- the command line ---------------------------------------------------------

TEST(CommandLine, OnlyTheFirstArgumentIsKeptAsItsBytes) {
    const char* none[] = {"quorvane"};
    CommandLine empty = readCommandLine(1, none);
    EXPECT_EQ(empty.argumentCount, 1);
    EXPECT_EQ(empty.StartupSafePath, "");

    const char* two[] = {"quorvane", "/home/u/My Safes/caf\xc3\xa9.cx", "ignored"};
    CommandLine given = readCommandLine(3, two);
    EXPECT_EQ(given.argumentCount, 3);
    EXPECT_EQ(given.StartupSafePath, "/home/u/My Safes/caf\xc3\xa9.cx");

    // Bytes that are no text in any encoding reach the file system unchanged.
    const char* raw[] = {"quorvane", "/tmp/\xff\xfe.cx"};
    EXPECT_EQ(readCommandLine(2, raw).StartupSafePath, "/tmp/\xff\xfe.cx");
}

TEST(DisplayCheck, WithoutADisplayTheProgramSaysSoInOneLine) {
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(QUORVANE_PROGRAM), {});
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 1);
    EXPECT_EQ(program.readAllStandardError().toStdString(), std::string(NoDisplayMessage) + "\n");
    EXPECT_TRUE(program.readAllStandardOutput().isEmpty());
}

// --- start-up -------------------------------------------------------------------

TEST_F(DesktopProgramTest, WithoutAnArgumentNothingIsAskedAndTheListIsEmpty) {
    DesktopProgram program;
    DialogScript script;
    EXPECT_TRUE(program.openStartupSafeIfGiven(readCommandLine(0, nullptr)));
    EXPECT_EQ(program.window().entryList()->entryCount(), 0);
    EXPECT_FALSE(program.window().toolbarAction(command::Save)->isEnabled());
    EXPECT_TRUE(script.seen().empty());
}

TEST_F(DesktopProgramTest, TheRightPasswordAtStartUpListsTheSafesRows) {
    makeTwoFileSafe();
    DesktopProgram program;
    EXPECT_TRUE(startOn(program, password));
    EXPECT_EQ(
        shownRows(program.window().entryList()),
        (std::vector<ListRow>{{"0", "letter.txt", "11 Bytes"}, {"1", "photo.jpg", "7 Bytes"}}));
    EXPECT_TRUE(program.window().toolbarAction(command::Save)->isEnabled());
    EXPECT_TRUE(program.window().toolbarAction(command::Extract)->isEnabled());
    // The window is shown only afterwards, by run().
    EXPECT_FALSE(program.window().isVisible());
}

TEST_F(DesktopProgramTest, ARefusedPasswordAtStartUpEndsWithoutShowingTheWindow) {
    makeTwoFileSafe();
    DesktopProgram program;
    DialogScript script;
    // The safe has a random IV: a wrong password that its padding refuses.
    script.expectPassword(QString::fromStdString(test::refusedPasswordFor(safe, "wrong horse")));
    script.expectMessage(QMessageBox::Critical, Error, QStringLiteral("Invalid File or Password"));
    const std::string path = safe.string();
    const char* argv[] = {"quorvane", path.c_str()};
    EXPECT_FALSE(program.openStartupSafeIfGiven(readCommandLine(2, argv)));
    EXPECT_EQ(script.pending(), 0u);
    EXPECT_FALSE(program.window().isVisible());
    EXPECT_EQ(program.window().entryList()->entryCount(), 0);
}

// --- drops ------------------------------------------------------------------------

TEST_F(DesktopProgramTest, ADropWithNoSafeOpenSaysSafeNotOpenOncePerFile) {
    DesktopProgram program;
    program.window().show();
    const auto first = folder.write("one.txt", "1");
    const auto second = folder.write("two.txt", "22");
    DialogScript script;
    script.expectQuestion(QStringLiteral("Delete Original File"),
                          QStringLiteral("Would you like to Securely Erase the original "
                                         "files?\n\nThese are 2 files, 3 B in all."),
                          false);
    script.expectMessage(QMessageBox::Critical, Error, QStringLiteral("Safe Not open"));
    script.expectMessage(QMessageBox::Critical, Error, QStringLiteral("Safe Not open"));
    dropFiles(&program.window(), {first, second});
    EXPECT_TRUE(script.waitUntilDone());
    EXPECT_EQ(test::readFile(first), "1") << "the originals are kept";
}

TEST_F(DesktopProgramTest, DroppedFilesGoIntoTheOpenSafeAndTheCloseBoxWritesIt) {
    makeTwoFileSafe();
    const std::string before = test::readFile(safe);
    DesktopProgram program;
    ASSERT_TRUE(startOn(program, password));
    program.window().show();
    const auto zebra = folder.write("zebra.txt", "stripes");
    const auto aardvark = folder.write("aardvark.txt", "ants");
    dropKeeping(program, {zebra, aardvark}, 4);
    const std::vector<ListRow> expected = {{"0", "letter.txt", "11 Bytes"},
                                           {"1", "photo.jpg", "7 Bytes"},
                                           {"2", "zebra.txt", "7 Bytes"},
                                           {"3", "aardvark.txt", "4 Bytes"}};
    EXPECT_EQ(shownRows(program.window().entryList()), expected);
    EXPECT_EQ(test::readFile(safe), before) << "nothing is written before the close";

    DialogScript script; // the close asks nothing when the write succeeds
    EXPECT_TRUE(program.window().close());
    EXPECT_TRUE(program.window().hasEnded());
    EXPECT_FALSE(program.window().isVisible());
    EXPECT_FALSE(isSafeOpen(program.state()));
    EXPECT_NE(test::readFile(safe), before);
    EXPECT_EQ(test::listSafe(safe, password), expected);
}

// --- closing ------------------------------------------------------------------------

TEST_F(DesktopProgramTest, TerminationSignalsWriteTheSafeLikeTheCloseBox) {
    for (int signal : {SIGTERM, SIGHUP, SIGINT, SIGQUIT, SIGXFSZ, SIGUSR1, SIGALRM}) {
        makeTwoFileSafe();
        DesktopProgram program;
        ASSERT_TRUE(startOn(program, password));
        program.window().show();
        dropKeeping(program, {folder.write("late.txt", "arrived late")}, 3);
        const auto workingCopy = workingCopyPath(program.state());
        ASSERT_TRUE(std::filesystem::exists(workingCopy));
        DialogScript script;
        ASSERT_EQ(std::raise(signal), 0);
        ASSERT_TRUE(QTest::qWaitFor([&] { return program.window().hasEnded(); }, 10000))
            << "signal " << signal;
        EXPECT_FALSE(std::filesystem::exists(workingCopy)) << "plaintext left behind";
        const std::vector<ListRow> rows = test::listSafe(safe, password);
        ASSERT_EQ(rows.size(), 3u) << "signal " << signal;
        EXPECT_EQ(rows[2].name, "late.txt");
    }
}

// A termination request waits for no one (the session manager kills what
// stays): the open box gets the answer that keeps data, and the close
// sequence writes the safe. Change Password is cancelled (the old password
// stays); the erase question gets No (the original stays, the file goes in).
TEST_F(DesktopProgramTest, ATerminationSignalAnswersTheOpenBoxSoThatNothingIsLost) {
    for (int opened : {command::About, command::ChangePassword, 0}) {
        SCOPED_TRACE(opened);
        makeTwoFileSafe();
        const auto original = folder.write("late.txt", "arrived late");
        DesktopProgram program;
        ASSERT_TRUE(startOn(program, password));
        program.window().show();
        DialogScript script;
        script.expect("the open box", [&](QWidget* box) {
            ASSERT_EQ(std::raise(SIGTERM), 0);
            EXPECT_TRUE(QTest::qWaitFor([&] { return box->isHidden(); }, 5000));
        });
        if (opened == 0)
            dropFiles(&program.window(), {original});
        else
            program.window().routeCommand(opened);
        ASSERT_TRUE(script.waitUntilDone());
        ASSERT_TRUE(QTest::qWaitFor([&] { return program.window().hasEnded(); }, 10000));
        EXPECT_EQ(test::listSafe(safe, password).size(), opened == 0 ? 3u : 2u);
        EXPECT_TRUE(std::filesystem::exists(original));
        EXPECT_FALSE(std::filesystem::exists(workingCopyPath(program.state())));
    }
}

TEST_F(DesktopProgramTest, SaveAndExitWritesTheSafeUnderTheChangedPassword) {
    makeTwoFileSafe();
    DesktopProgram program;
    ASSERT_TRUE(startOn(program, password));
    program.window().show();
    EXPECT_EQ(program.window().windowTitle(), QStringLiteral("papers.cx \u2014 Quorvane"));
    DialogScript script;
    // A confirmation that differs changes nothing; the same text twice does.
    script.expectPassword(QStringLiteral("battery staple"));
    script.expectPassword(QStringLiteral("battery stapel"), QStringLiteral("Confirm Password"));
    script.expectMessage(QMessageBox::Critical, Error,
                         QStringLiteral("The passwords do not match."));
    menuItem(program.window(), command::ChangePassword)->trigger();
    EXPECT_EQ(program.state().password, password);
    script.expectPassword(QStringLiteral("battery staple"));
    script.expectPassword(QStringLiteral("battery staple"), QStringLiteral("Confirm Password"));
    script.expectMessage(QMessageBox::Information, QStringLiteral("Success"),
                         QStringLiteral("Your password has been changed."));
    menuItem(program.window(), command::ChangePassword)->trigger();
    menuItem(program.window(), command::SaveAndExit)->trigger();
    EXPECT_EQ(script.pending(), 0u);
    EXPECT_TRUE(program.window().hasEnded());
    const std::vector<ListRow> rows = test::listSafe(safe, "battery staple");
    EXPECT_EQ(rows.size(), 2u);
    // The old password no longer opens it. Without a check value in the
    // format, the new random IV lets the old key through the padding check
    // about once in 256 saves: the rows never come back, and wherever the
    // cipher refuses the old key the program says so.
    std::vector<std::string> messages;
    EXPECT_NE(test::listSafe(safe, password, &messages), rows);
    if (test::refusesPassword(safe, password)) {
        EXPECT_EQ(messages, std::vector<std::string>{"Invalid File or Password"});
    }
}

TEST_F(DesktopProgramTest, ACloseThatCannotWriteTheSafeKeepsTheWindowWhenTheUserSaysNo) {
    const std::filesystem::path inner = folder.path() / "gone";
    std::filesystem::create_directory(inner);
    safe = inner / "papers.cx";
    makeTwoFileSafe();
    DesktopProgram program;
    ASSERT_TRUE(startOn(program, password));
    program.window().show();
    // The safe's folder disappears while the safe is open.
    std::filesystem::remove_all(inner);
    DialogScript script;
    script.expectMessage(QMessageBox::Critical, Error,
                         QStringLiteral("Failed to Save file!\nNo such file or directory"));
    script.expectQuestion(Error, QStringLiteral("Failed to Save file! Close without saving?"),
                          false);
    EXPECT_FALSE(program.window().close());
    EXPECT_EQ(script.pending(), 0u);
    EXPECT_TRUE(program.window().isVisible());
    EXPECT_FALSE(program.window().hasEnded());
    EXPECT_TRUE(isSafeOpen(program.state())) << "the changes are still there to save";
}

} // namespace
} // namespace quorvane
