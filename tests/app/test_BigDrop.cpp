// A drop of a folder of many small files keeps the window alive: one busy box
// stands over the whole drop, repaints while the files go in, and says how
// far it has come (file count, bytes); afterwards one box lists the names
// that the safe stores differently.

#include "app/DesktopProgram.h"
#include "app/EntryListView.h"
#include "dialogs/Dialogs.h"
#include "entries/Entries.h"
#include "entries/Messages.h"
#include "tests/app/DialogScript.h"
#include "tests/app/SafeFixture.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QRegularExpression>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace quorvane {
namespace {

using test::DialogScript;

constexpr int FileCount = 2000;
constexpr int FileSize = 100;

// Counts the paint events of the widgets it watches.
class PaintCounter : public QObject {
  public:
    int paints = 0;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return QObject::eventFilter(watched, event);
    }
};

QWidget* shownBusyBox() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->objectName() == QLatin1String("busyDialog") && widget->isVisible())
            return widget;
    return nullptr;
}

QString labelText(QWidget* box, const char* name) {
    const auto* label = box->findChild<QLabel*>(QString::fromLatin1(name));
    return label == nullptr ? QString() : label->text();
}

class BigDropTest : public ::testing::Test {
  protected:
    test::TempFolder folder;
    std::filesystem::path safe = folder.path() / "album.cx";
    const std::string password = "correct horse";
    DesktopProgram program;

    void SetUp() override {
        test::makeSafe(safe, password, {{"IMG_0001.JPG", "an older photo"}});
        DialogScript script;
        script.expectPassword(QString::fromStdString(password));
        const std::string path = safe.string();
        const char* argv[] = {"quorvane", path.c_str()};
        ASSERT_TRUE(program.openStartupSafeIfGiven(readCommandLine(2, argv)));
        program.window().show();
    }
};

TEST_F(BigDropTest, OneBusyBoxRepaintsAndCountsTheFilesAndTheNamesAreSummedUp) {
    const std::filesystem::path album = folder.path() / "wedding";
    std::filesystem::create_directory(album);
    for (int i = 1; i <= FileCount; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%04d.JPG", i);
        test::writeFile(album / name, std::string(FileSize, 'x'));
    }
    const std::string longName(60, 'n');
    const auto longFile = folder.write(longName, "long");

    DialogScript script;
    script.expectQuestion(QStringLiteral("Delete Original File"),
                          QString::fromStdString(entries_text::eraseOriginalsQuestion(
                              FileCount + 1, FileCount * FileSize + 4)),
                          false);
    // The names: the first photo's name is taken already, the long one is cut.
    script.expect("the names stored differently", [&](QWidget* widget) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->windowTitle(), QStringLiteral("Stored Names"));
        EXPECT_EQ(box->text().toStdString(),
                  "1 name was cut to fit the safe; 1 stored name is one that another entry has "
                  "too:\n" +
                      longFile.string() + ": stored as " + longName.substr(0, 50) + "\n" +
                      (album / "IMG_0001.JPG").string() +
                      ": stored as IMG_0001.JPG, which another entry already has");
        box->accept();
    });

    // A plain safe keeps no folders, and says so.
    script.expectMessage(QMessageBox::Information, QStringLiteral("Not Added"),
                         QString::fromUtf8(entries_text::FoldersLeftOut));

    std::set<QWidget*> addingBoxes;
    std::set<QString> details;
    PaintCounter painted;
    QPointer<QWidget> watched;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        QWidget* box = shownBusyBox();
        if (box == nullptr || !labelText(box, "busyText").startsWith(QStringLiteral("Adding File")))
            return;
        addingBoxes.insert(box);
        details.insert(labelText(box, "busyDetail"));
        if (watched != box) {
            box->installEventFilter(&painted);
            watched = box;
        }
        box->update();
    });
    // A fast machine adds the 2,000 files within one or two of the usual
    // 50 ms between paints: a short interval makes the repaints certain,
    // and a timer of no delay samples the box at every turn of the loop.
    dialogs::BusyBox::setPaintInterval(std::chrono::milliseconds(1));
    sampler.start(0);
    addDroppedFiles(program.session(), {album.string(), longFile.string()});
    sampler.stop();
    dialogs::BusyBox::setPaintInterval(std::chrono::milliseconds(50));
    EXPECT_TRUE(script.waitUntilDone());

    EXPECT_EQ(program.window().entryList()->entryCount(), FileCount + 2);
    EXPECT_EQ(addingBoxes.size(), 1u) << "one box for the whole drop, not one per file";
    // Painted again after it was first found on screen: a drop that never
    // lets the event loop turn paints it once at most.
    EXPECT_GE(painted.paints, 2) << "the box repaints while the files go in";
    // "File 12 of 2,001, 1.2 kB of 200 kB" and, once there is a pace, the time left.
    const QRegularExpression figures(
        QStringLiteral("^File [0-9,]+ of 2,001, [0-9.]+ k?B of 200 kB(, [0-9]+:[0-9]{2} left)?$"));
    int counted = 0;
    for (const QString& detail : details)
        if (figures.match(detail).hasMatch())
            ++counted;
    EXPECT_GE(counted, 2) << "the figures move on: " << details.size() << " seen";
    EXPECT_EQ(shownBusyBox(), nullptr) << "no box stays up after the drop";
}

} // namespace
} // namespace quorvane
