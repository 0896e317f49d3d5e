// Safe Options > Open as Folder on a real mount: the folder under the
// runtime folder, the list following what other programs change in it, a
// row's double-click opening its file through it, and the close waiting for
// a file still open there.

#include "app/CommandIds.h"
#include "app/DesktopProgram.h"
#include "app/EntryListView.h"
#include "app/FolderTexts.h"
#include "tests/app/DialogScript.h"
#include "tests/app/SafeFixture.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace quorvane {
namespace {

namespace fs = std::filesystem;

bool isMounted(const fs::path& dir) {
    std::ifstream mountinfo("/proc/self/mountinfo");
    for (std::string line; std::getline(mountinfo, line);)
        if (line.find(" " + dir.string() + " ") != std::string::npos &&
            line.find(" fuse.quorvane ") != std::string::npos)
            return true;
    return false;
}

class OpenFolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Folders are served by programs named quorvane...: another of our
        // programs starting meanwhile (a test run beside this one) sweeps a
        // mount whose server has any other name as dead.
        ::prctl(PR_SET_NAME, "quorvane-test");
        const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
        if (fd < 0 || (::geteuid() != 0 && ::access("/usr/bin/fusermount3", X_OK) != 0))
            GTEST_SKIP() << "FUSE is not usable here: the folder cannot be mounted";
        ::close(fd);
        const char* before = std::getenv("XDG_RUNTIME_DIR");
        savedRuntime = before != nullptr ? std::optional<std::string>(before) : std::nullopt;
        fs::create_directory(runtime);
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        test::makeSafe(safe, password, {{"letter.txt", "Dear reader"}, {"photo.jpg", "JFIF..."}});
    }
    void TearDown() override {
        savedRuntime ? ::setenv("XDG_RUNTIME_DIR", savedRuntime->c_str(), 1)
                     : ::unsetenv("XDG_RUNTIME_DIR");
    }

    void start(DesktopProgram& program) {
        test::DialogScript script;
        script.expectPassword(QString::fromStdString(password));
        const std::string path = safe.string();
        const char* argv[] = {"quorvane", path.c_str()};
        ASSERT_TRUE(program.openStartupSafeIfGiven(readCommandLine(2, argv)));
        program.window().show();
        program.folder().openUrl = [this](const QUrl& url) {
            opened.push_back(fs::path(url.toLocalFile().toStdString()));
            return true;
        };
    }

    QAction* folderItem(DesktopProgram& program) {
        return menuItem(program, command::OpenAsFolder);
    }
    QAction* menuItem(DesktopProgram& program, int id) {
        for (QAction* menu : program.window().menuBar()->actions())
            for (QAction* item : menu->menu()->actions())
                if (item->data().toInt() == id)
                    return item;
        return nullptr;
    }

    test::TempFolder folder;
    fs::path runtime = folder.path() / "runtime";
    fs::path safe = folder.path() / "papers.cx";
    const std::string password = "correct horse";
    std::optional<std::string> savedRuntime;
    std::vector<fs::path> opened;
};

TEST_F(OpenFolderTest, TheFolderShowsTheSafeAndARowOpensItsFileThroughIt) {
    DesktopProgram program;
    start(program);
    QAction* item = folderItem(program);
    ASSERT_NE(item, nullptr);
    ASSERT_TRUE(item->isEnabled());
    item->trigger();
    const fs::path dir = runtime / "quorvane" / "papers";
    ASSERT_EQ(opened, std::vector<fs::path>{dir}) << "the folder goes to the file manager";
    EXPECT_TRUE(isMounted(dir));
    EXPECT_EQ(fs::status(dir).permissions(), fs::perms::owner_all);
    EXPECT_EQ(test::readFile(dir / "photo.jpg"), "JFIF...");

    // Another program saves a file there: the list follows.
    test::writeFile(dir / "reply.txt", "Dear writer");
    EntryListView* list = program.window().entryList();
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->entryCount() == 3; }, 10000));
    EXPECT_EQ(list->model()->index(2, 1).data().toString(), QStringLiteral("reply.txt"));

    // A double-click on a row hands its file in the folder to the desktop.
    const QRect row = list->visualRect(list->model()->index(0, 0));
    program.window().activateWindow();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, row.center());
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[1], dir / "letter.txt");
    EXPECT_EQ(test::readFile(opened[1]), "Dear reader");
    // So does Enter on the focused row.
    list->setCurrentIndex(list->model()->index(1, 0));
    QTest::keyClick(list, Qt::Key_Return);
    ASSERT_EQ(opened.size(), 3u);
    EXPECT_EQ(opened[2], dir / "photo.jpg");

    test::DialogScript script; // closing asks nothing with no file open
    EXPECT_TRUE(program.window().close());
    EXPECT_FALSE(isMounted(dir));
    EXPECT_FALSE(fs::exists(dir)) << "the mount point goes with the folder";
    EXPECT_EQ(test::listSafe(safe, password).size(), 3u);
}

TEST_F(OpenFolderTest, TheCloseWaitsForAFileStillOpenInTheFolderWhenAsked) {
    for (bool wait : {true, false}) {
        SCOPED_TRACE(wait ? "wait" : "close anyway");
        DesktopProgram program;
        start(program);
        folderItem(program)->trigger();
        const fs::path dir = runtime / "quorvane" / "papers";
        const int fd = ::open((dir / "draft.txt").c_str(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, "draft", 5), 5);
        test::DialogScript script;
        bool closed = false;
        script.expect("the question whether to wait", [&](QWidget* widget) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->windowTitle(), QString::fromUtf8(folder_text::Caption));
            EXPECT_EQ(box->text(), QString::fromUtf8(folder_text::StillOpen));
            // The other program closes its file a while after the answer.
            if (wait)
                QTimer::singleShot(300, [&] { closed = ::close(fd) == 0; });
            box->button(wait ? QMessageBox::Yes : QMessageBox::No)->click();
        });
        EXPECT_TRUE(program.window().close());
        EXPECT_TRUE(script.waitUntilDone());
        EXPECT_FALSE(isMounted(dir));
        if (!wait)
            ::close(fd);
        EXPECT_EQ(closed, wait);
        // Waited for, the file is stored; closed anyway, it is not.
        EXPECT_EQ(test::listSafe(safe, password).size(), wait ? 3u : 2u);
        fs::remove(safe);
        test::makeSafe(safe, password, {{"letter.txt", "Dear reader"}, {"photo.jpg", "JFIF..."}});
    }
}

// A command that asks the user something keeps the session while it waits;
// a program in the folder, or the dialog itself looking into it, is answered
// at once meanwhile, and a file it saves is stored once the command ends.
TEST_F(OpenFolderTest, TheFolderAnswersWhileACommandWaitsForTheUser) {
    DesktopProgram program;
    start(program);
    folderItem(program)->trigger();
    const fs::path dir = runtime / "quorvane" / "papers";
    test::DialogScript script;
    std::vector<std::string> listed;
    std::string read;
    script.expect("the rename dialog, looking into the folder", [&](QWidget* widget) {
        // On the window's own thread, inside the dialog: waiting for the
        // session here would never end.
        listed = test::folderListing(dir);
        read = test::readFile(dir / "letter.txt");
        test::writeFile(dir / "saved meanwhile.txt", "from another program");
        auto* dialog = qobject_cast<QDialog*>(widget);
        ASSERT_NE(dialog, nullptr);
        dialog->reject();
    });
    program.window().entryList()->setCurrentIndex(
        program.window().entryList()->model()->index(0, 0));
    menuItem(program, command::RenameFile)->trigger();
    EXPECT_TRUE(script.waitUntilDone());
    EXPECT_EQ(listed, (std::vector<std::string>{"letter.txt", "photo.jpg"}));
    EXPECT_EQ(read, "Dear reader");
    EntryListView* list = program.window().entryList();
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->entryCount() == 3; }, 10000));
    test::DialogScript closing;
    EXPECT_TRUE(program.window().close());
    EXPECT_EQ(test::listSafe(safe, password).size(), 3u);
}

// A file that cannot be stored (a full disk under the working folder) is
// not dropped with the folder unless the user says so twice; when the
// program is asked to end and nobody answers, it is tried once more, named,
// and the program ends rather than asking for ever.
TEST_F(OpenFolderTest, AFileThatCannotBeStoredIsGivenUpOnlyWhenAskedTwice) {
    for (const bool nobodyThere : {false, true}) {
        SCOPED_TRACE(nobodyThere ? "asked to end" : "the user answers");
        const fs::path small = folder.path() / "small";
        fs::create_directories(small);
        if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=2m") != 0)
            GTEST_SKIP() << "no tmpfs can be mounted here: " << std::strerror(errno);
        // Gone with the test, however it ends, with TMPDIR as it was.
        struct SmallDisk {
            fs::path dir;
            std::optional<std::string> savedTmp;
            ~SmallDisk() {
                savedTmp ? ::setenv("TMPDIR", savedTmp->c_str(), 1) : ::unsetenv("TMPDIR");
                ::umount2(dir.c_str(), MNT_DETACH);
            }
        };
        const char* tmpBefore = std::getenv("TMPDIR");
        const SmallDisk disk{small, tmpBefore != nullptr ? std::optional<std::string>(tmpBefore)
                                                         : std::nullopt};
        ::setenv("TMPDIR", small.c_str(), 1);
        {
            DesktopProgram program;
            start(program);
            folderItem(program)->trigger();
            const fs::path dir = runtime / "quorvane" / "papers";
            const std::string big(1200 * 1024, 'b');
            test::DialogScript script;
            const QString caption = QString::fromUtf8(folder_text::Caption);
            const QString full = QString::fromUtf8(std::strerror(ENOSPC));
            script.expectMessage(QMessageBox::Critical, caption,
                                 QString::fromUtf8(folder_text::notStored("big.bin")) + "\n" +
                                     full);
            const int fd = ::open((dir / "big.bin").c_str(), O_WRONLY | O_CREAT, 0600);
            ASSERT_GE(fd, 0);
            EXPECT_EQ(::write(fd, big.data(), big.size()), static_cast<ssize_t>(big.size()));
            EXPECT_NE(::close(fd), 0) << "close() tells the program";
            EXPECT_TRUE(script.waitUntilDone());
            if (nobodyThere) {
                program.endOnRequest();
                EXPECT_TRUE(program.window().hasEnded());
                EXPECT_FALSE(isMounted(dir));
            } else {
                script.expectQuestion(
                    caption,
                    QString::fromUtf8(folder_text::tryAgainToStore("big.bin")) + "\n" + full, true);
                script.expectQuestion(caption,
                                      QString::fromUtf8(folder_text::tryAgainToStore("big.bin")) +
                                          "\n" + full,
                                      false);
                script.expectQuestion(
                    caption, QString::fromUtf8(folder_text::reallyGiveUp("big.bin")), true);
                EXPECT_TRUE(program.window().close());
                EXPECT_TRUE(script.waitUntilDone());
                EXPECT_FALSE(isMounted(dir));
            }
        }
        EXPECT_EQ(test::listSafe(safe, password).size(), 2u);
    }
}

// Without a runtime folder the window mounts under the temporary folder,
// only in a folder of its own: one that another user made, or a link planted
// in its place, is refused, and nothing is mounted through it.
TEST_F(OpenFolderTest, AMountFolderThatIsNotTheUsersOwnIsRefused) {
    const fs::path tmp = folder.path() / "tmp";
    const fs::path elsewhere = folder.path() / "elsewhere";
    fs::create_directories(tmp);
    fs::create_directories(elsewhere);
    const char* tmpBefore = std::getenv("TMPDIR");
    const std::optional<std::string> savedTmp =
        tmpBefore != nullptr ? std::optional<std::string>(tmpBefore) : std::nullopt;
    ::setenv("TMPDIR", tmp.c_str(), 1);
    ::unsetenv("XDG_RUNTIME_DIR");
    const fs::path parent = tmp / ("quorvane-folders-" + std::to_string(::getuid()));
    for (bool link : {true, false}) {
        SCOPED_TRACE(link ? "a link" : "another user's folder");
        fs::remove_all(parent);
        if (link) {
            fs::create_directory_symlink(elsewhere, parent);
        } else {
            fs::create_directory(parent);
            ASSERT_EQ(::chown(parent.c_str(), 65534, 65534), 0);
        }
        DesktopProgram program;
        start(program);
        test::DialogScript script;
        script.expectMessage(QMessageBox::Critical, QString::fromUtf8(folder_text::Caption),
                             QString::fromUtf8(folder_text::NotMounted) + "\n" +
                                 QString::fromUtf8(std::strerror(EPERM)));
        folderItem(program)->trigger();
        EXPECT_TRUE(script.waitUntilDone());
        EXPECT_TRUE(opened.empty());
        EXPECT_TRUE(fs::is_empty(elsewhere)) << "nothing made through the link";
        EXPECT_FALSE(isMounted(parent / "papers"));
        EXPECT_FALSE(isMounted(elsewhere / "papers"));
    }
    savedTmp ? ::setenv("TMPDIR", savedTmp->c_str(), 1) : ::unsetenv("TMPDIR");
}

// A safe whose folder takes no new file could not keep the folder's work:
// Open as Folder is refused before anything is mounted, with the system's
// reason. The folder is a read-only bind mount, which stops root too.
TEST_F(OpenFolderTest, ASafeInAFolderThatTakesNoFileIsNotOpenedAsAFolder) {
    const fs::path shelf = folder.path() / "shelf";
    fs::create_directories(shelf);
    safe = shelf / "papers.cx";
    test::makeSafe(safe, password, {{"letter.txt", "Dear reader"}});
    if (::mount(shelf.c_str(), shelf.c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "no bind mount here: " << std::strerror(errno);
    const struct Unmount {
        const fs::path& dir;
        ~Unmount() { ::umount2(dir.c_str(), MNT_DETACH); }
    } unmount{shelf};
    ASSERT_EQ(::mount(nullptr, shelf.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr),
              0)
        << std::strerror(errno);
    ASSERT_FALSE(std::ofstream(shelf / "probe").is_open()) << "the folder still takes files";
    const std::string before = test::readFile(safe);
    {
        DesktopProgram program;
        start(program);
        test::DialogScript script;
        script.expectMessage(QMessageBox::Critical, QString::fromUtf8(folder_text::Caption),
                             QString::fromUtf8(folder_text::NotMounted) + "\n" +
                                 QString::fromUtf8(std::strerror(EROFS)));
        folderItem(program)->trigger();
        EXPECT_TRUE(script.waitUntilDone());
        EXPECT_TRUE(opened.empty());
        EXPECT_FALSE(program.folder().mounted());
        EXPECT_FALSE(isMounted(runtime / "quorvane" / "papers"));
    }
    EXPECT_EQ(test::readFile(safe), before);
}

// While the safe is open as a folder a line below the list says where, and
// its buttons show the folder and close it; a closed folder takes the line
// away. Rows dragged out carry the folder's files, read through the mount:
// nothing of them is written anywhere first.
TEST_F(OpenFolderTest, TheStatusLineFollowsTheFolderAndDraggedRowsAreItsFiles) {
    DesktopProgram program;
    start(program);
    MainWindow& window = program.window();
    EXPECT_FALSE(window.statusBar()->isVisible());
    const fs::path dir = runtime / "quorvane" / "papers";

    const std::vector<fs::path> dragged = program.folder().filesOfRows({1, 0});
    EXPECT_EQ(dragged, (std::vector<fs::path>{dir / "photo.jpg", dir / "letter.txt"}));
    EXPECT_EQ(test::readFile(dragged[0]), "JFIF...");
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.statusBar()->isVisible(); }, 5000));
    auto* place = window.folderStatus()->findChild<QLabel*>(QStringLiteral("FolderPlace"));
    ASSERT_NE(place, nullptr);
    EXPECT_EQ(place->text().toStdString(), "Open as a folder: " + dir.string());

    window.folderStatus()->findChild<QPushButton*>(QStringLiteral("ShowFolder"))->click();
    EXPECT_EQ(opened, std::vector<fs::path>{dir}) << "the folder goes to the file manager";
    window.folderStatus()->findChild<QPushButton*>(QStringLiteral("CloseFolder"))->click();
    EXPECT_FALSE(isMounted(dir));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.statusBar()->isVisible(); }, 5000));
    EXPECT_TRUE(isSafeOpen(program.state())) << "the safe stays open";
}

} // namespace
} // namespace quorvane
