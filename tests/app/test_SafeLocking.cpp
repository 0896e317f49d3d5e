// The window closes its safe by itself: on the session's events (mocked
// logind and screen saver on private buses), on File > Lock, after idleness
// counted from input in the window, with a file of its folder held open, and
// an open dialog answered first; the locked view opens the same safe again.

#include "app/CommandIds.h"
#include "app/DesktopProgram.h"
#include "app/EntryListView.h"
#include "dialogs/PreferencesDialog.h"
#include "entries/Entries.h"
#include "tests/app/DialogScript.h"
#include "tests/app/SafeFixture.h"
#include "tests/support/SessionBuses.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using test::DialogScript;

class SafeLockingTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        buses_ = new test::SessionBuses;
        if (buses_->started())
            buses_->send("session c5");
    }
    static void TearDownTestSuite() {
        delete buses_;
        buses_ = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(buses_->started()) << "python3-dbusmock and dbus-daemon are needed";
        buses_->useInThisProcess();
        ::setenv("XDG_SESSION_ID", "c5", 1);
        ::setenv("XDG_CONFIG_HOME", folder.path().c_str(), 1);
        fs::create_directories(folder.path() / "runtime");
        ::setenv("XDG_RUNTIME_DIR", (folder.path() / "runtime").c_str(), 1);
        test::makeSafe(safe, password, {{"letter.txt", "Dear reader"}});
        program = std::make_unique<DesktopProgram>();
        program->folder().openUrl = [](const QUrl&) { return true; };
        DialogScript script;
        script.expectPassword(QString::fromStdString(password));
        const std::string path = safe.string();
        const char* argv[] = {"quorvane", path.c_str()};
        ASSERT_TRUE(program->openStartupSafeIfGiven(readCommandLine(2, argv)));
        program->window().show();
    }

    void TearDown() override { program.reset(); }

    bool awaitLocked(bool locked = true) {
        return QTest::qWaitFor([&] { return program->locking().isLocked() == locked; }, 15000);
    }

    // Types into the locked view and presses Unlock.
    void unlockWith(const QString& typed) {
        LockedView* view = program->locking().lockedView();
        ASSERT_NE(view, nullptr);
        view->passwordField()->setText(typed);
        QTest::mouseClick(view->unlockButton(), Qt::LeftButton);
    }

    static test::SessionBuses* buses_;
    test::TempFolder folder;
    fs::path safe = folder.path() / "papers.cx";
    const std::string password = "correct horse";
    std::unique_ptr<DesktopProgram> program;
};

test::SessionBuses* SafeLockingTest::buses_ = nullptr;

TEST_F(SafeLockingTest, EachEventLocksAndTheLockedViewOpensTheSafeAgain) {
    for (const char* event : {"lock", "screensaver org.gnome.ScreenSaver", "sleep true"}) {
        SCOPED_TRACE(event);
        EXPECT_EQ(buses_->send("inhibitors"), "ok sleep/delay/Quorvane");
        ASSERT_EQ(buses_->send(event), "ok");
        ASSERT_TRUE(awaitLocked());
        EXPECT_FALSE(isSafeOpen(program->state())) << "key and working copy dropped";
        EXPECT_TRUE(program->state().password.empty());
        EXPECT_EQ(program->window().windowTitle(),
                  QStringLiteral("papers.cx (locked) \u2014 Quorvane"));
        LockedView* view = program->locking().lockedView();
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(program->window().centralWidget(), view);
        EXPECT_EQ(view->findChild<QLabel*>(QStringLiteral("LockedLabel"))->text(), "Locked");
        EXPECT_EQ(view->findChild<QLabel*>(QStringLiteral("LockedSafeName"))->text(), "papers.cx");
        // logind sees the descriptor closed on its own loop.
        EXPECT_TRUE(QTest::qWaitFor([] { return buses_->send("inhibitors") == "ok "; }, 5000));

        DialogScript refused;
        refused.expectMessage(QMessageBox::Critical, QStringLiteral("Error"),
                              QStringLiteral("Invalid File or Password"));
        unlockWith(QStringLiteral("wrong"));
        ASSERT_TRUE(refused.waitUntilDone());
        EXPECT_TRUE(program->locking().isLocked());

        unlockWith(QString::fromStdString(password));
        ASSERT_TRUE(awaitLocked(false));
        EXPECT_TRUE(isSafeOpen(program->state()));
        EXPECT_EQ(program->window().entryList()->entryCount(), 1);
        EXPECT_EQ(program->window().windowTitle(), QStringLiteral("papers.cx \u2014 Quorvane"));
        EXPECT_NE(program->window().centralWidget(), view);
    }
}

TEST_F(SafeLockingTest, ChangesAreWrittenFirstAndAnOpenDialogGivesWay) {
    const fs::path added = folder.path() / "added.txt";
    test::writeFile(added, "new content");
    {
        DialogScript script;
        script.expectQuestion(QStringLiteral("Delete Original File"),
                              QStringLiteral("Would you like to Securely Erase the original "
                                             "files?\n\nThis is 1 file, 11 B in all."),
                              false);
        addDroppedFiles(program->session(), {added.string()});
        ASSERT_TRUE(script.waitUntilDone());
    }
    ASSERT_EQ(program->window().entryList()->entryCount(), 2);
    // The About box is open (a modal loop) when the screen locks; the lock
    // answers it, or the fallback below does and the test fails.
    bool sent = false;
    QTimer::singleShot(300, [&] { sent = buses_->send("lock") == "ok"; });
    QTimer fallback;
    fallback.setSingleShot(true);
    QObject::connect(&fallback, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
        ADD_FAILURE() << "the lock left the About box open";
    });
    fallback.start(10000);
    program->window().routeCommand(command::About);
    fallback.stop();
    EXPECT_TRUE(sent);
    ASSERT_TRUE(awaitLocked());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    const auto rows = test::listSafe(safe, password);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].name, "added.txt");

    // File > Lock (Ctrl+L) after the unlock.
    unlockWith(QString::fromStdString(password));
    ASSERT_TRUE(awaitLocked(false));
    QAction* lock = nullptr;
    for (QAction* menu : program->window().menuBar()->actions())
        for (QAction* item : menu->menu()->actions())
            lock = item->data().toInt() == command::Lock ? item : lock;
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(lock->text(), QStringLiteral("&Lock"));
    EXPECT_EQ(lock->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_L));
    lock->trigger();
    ASSERT_TRUE(awaitLocked());
    EXPECT_TRUE(program->locking().lockedView()->noteLabel()->text().contains(
        QStringLiteral("Closed because you locked it.")));
}

TEST_F(SafeLockingTest, InputInTheWindowKeepsItOpenAndIdlenessLocksIt) {
    CloseSettings settings;
    settings.idle = std::chrono::milliseconds(1200);
    program->locking().listen(settings);
    for (int i = 0; i < 8; ++i) {
        QTest::qWait(250);
        QTest::keyClick(program->window().entryList(), Qt::Key_Down);
    }
    EXPECT_FALSE(program->locking().isLocked()) << "locked although in use";
    ASSERT_TRUE(awaitLocked());
    EXPECT_TRUE(program->locking().lockedView()->noteLabel()->text().contains(
        QStringLiteral("not used for a while")));
}

TEST_F(SafeLockingTest, AFileHeldOpenInTheFolderIsNamedAndTheFolderRemoved) {
    CloseSettings settings;
    settings.idle.reset();
    settings.grace = std::chrono::seconds(1);
    program->locking().listen(settings);
    program->window().routeCommand(command::OpenAsFolder);
    ASSERT_TRUE(program->folder().mounted());
    const fs::path dir = program->folder().dir();
    const int held = ::open((dir / "held.txt").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(held, 0);
    ASSERT_EQ(buses_->send("lock"), "ok");
    ASSERT_TRUE(awaitLocked());
    ::close(held);
    const QString note = program->locking().lockedView()->noteLabel()->text();
    EXPECT_TRUE(note.contains(QStringLiteral("Closed with files still open: held.txt (")))
        << note.toStdString();
    EXPECT_TRUE(note.contains(QStringLiteral("process ") + QString::number(::getpid())));
    EXPECT_FALSE(fs::exists(dir)) << "nothing plaintext can land in a bare mount point";
}

TEST_F(SafeLockingTest, PreferencesAreKeptForTheToolAndObeyed) {
    dialogs::PreferencesDialog dialog(CloseSettings{});
    EXPECT_TRUE(dialog.onScreenLock()->isChecked());
    EXPECT_EQ(dialog.idleMinutes()->value(), 10);
    EXPECT_EQ(dialog.graceSeconds()->value(), 30);
    dialog.onScreenLock()->setChecked(false);
    dialog.idleMinutes()->setValue(0);
    dialog.graceSeconds()->setValue(5);
    dialogs::saveClosePreferences(dialog.settings());
    const CloseSettings read = readCloseSettings(settingsFilePath()); // as the tool reads it
    EXPECT_FALSE(read.onScreenLock);
    EXPECT_TRUE(read.onSleep);
    EXPECT_EQ(read.idle, std::nullopt);
    EXPECT_EQ(read.grace, std::chrono::seconds(5));

    program->locking().listen(read);
    ASSERT_EQ(buses_->send("lock"), "ok");
    QTest::qWait(700);
    EXPECT_FALSE(program->locking().isLocked()) << "closing on screen lock is off";
    ASSERT_EQ(buses_->send("shutdown true"), "ok");
    EXPECT_TRUE(awaitLocked());
}

} // namespace
} // namespace quorvane
