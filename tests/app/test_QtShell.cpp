// The desktop side of the port: boxes over the main window with the given
// icon, caption and text; the list operations on the real list; the busy box
// never above a box that asks; the end of the window.

#include "app/CommandIds.h"
#include "app/DesktopProgram.h"
#include "app/EntryListView.h"
#include "tests/app/DialogScript.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace quorvane {
namespace {

using test::DialogScript;

class QtShellTest : public ::testing::Test {
  protected:
    DesktopProgram program;
    QtShell& shell = program.shell();
    EntryListView* list = program.window().entryList();

    QString cell(int row, int column) { return list->entryText(row, column); }
};

TEST_F(QtShellTest, ErrorAndInformationBoxesCarryTheirIconCaptionAndText) {
    DialogScript script;
    script.expectMessage(QMessageBox::Critical, QStringLiteral("Error"),
                         QStringLiteral("Invalid File or Password"));
    script.expectMessage(QMessageBox::Information, QStringLiteral("Success!"),
                         QStringLiteral("Changes Saved"));
    // The box sits on the main window; a text that is not UTF-8 still shows.
    script.expect("owner and lossy text", [this](QWidget* widget) {
        EXPECT_EQ(widget->parentWidget(), &program.window());
        auto* box = qobject_cast<QMessageBox*>(widget);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text(), QStringLiteral("caf\u00e9 \ufffd!"));
        box->button(QMessageBox::Ok)->click();
    });
    shell.showMessage("Invalid File or Password", "Error", MessageIcon::Error);
    shell.showMessage("Changes Saved", "Success!", MessageIcon::Information);
    shell.showMessage("caf\xc3\xa9 \xff!", "Error", MessageIcon::Error);
    EXPECT_EQ(script.pending(), 0u);
}

TEST_F(QtShellTest, QuestionsAnswerYesAndNo) {
    DialogScript script;
    script.expectQuestion(QStringLiteral("Delete Original File"), QStringLiteral("Are you Sure?"),
                          true);
    script.expectQuestion(QStringLiteral("Delete Original File"), QStringLiteral("Are you Sure?"),
                          false);
    EXPECT_TRUE(shell.askYesNo("Are you Sure?", "Delete Original File"));
    EXPECT_FALSE(shell.askYesNo("Are you Sure?", "Delete Original File"));
}

// An extraction meeting a different file asks Replace, Skip or Keep Both,
// with "Do this for all"; Keep Both, which destroys nothing, is the default
// and what Esc answers.
TEST_F(QtShellTest, AnExistingFileIsAskedAboutWithKeepBothAsTheDefault) {
    struct Case {
        QString button; // empty: Esc
        bool forAll;
        ExistingFileChoice expected;
    };
    const std::vector<Case> cases = {
        {QStringLiteral("&Replace"), false, ExistingFileChoice::Replace},
        {QStringLiteral("&Skip"), true, ExistingFileChoice::Skip},
        {QStringLiteral("&Keep Both"), true, ExistingFileChoice::KeepBoth},
        {QString(), false, ExistingFileChoice::KeepBoth},
    };
    for (const Case& expected : cases) {
        DialogScript script;
        script.expect("existing file", [&](QWidget* widget) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->icon(), QMessageBox::Warning);
            EXPECT_EQ(box->windowTitle(), QStringLiteral("File Exists"));
            EXPECT_TRUE(box->text().contains(QStringLiteral("/dest/notes.txt")));
            ASSERT_NE(box->defaultButton(), nullptr);
            EXPECT_EQ(box->defaultButton()->text(), QStringLiteral("&Keep Both"));
            ASSERT_NE(box->checkBox(), nullptr);
            EXPECT_EQ(box->checkBox()->text(), QStringLiteral("Do this for all"));
            EXPECT_FALSE(box->checkBox()->isChecked());
            box->checkBox()->setChecked(expected.forAll);
            if (expected.button.isEmpty()) {
                QTest::keyClick(box, Qt::Key_Escape);
                return;
            }
            for (QAbstractButton* button : box->buttons())
                if (button->text() == expected.button)
                    button->click();
        });
        const ExistingFileAnswer answer = shell.askExistingFile("/dest/notes.txt");
        EXPECT_EQ(answer.choice, expected.expected) << expected.button.toStdString();
        EXPECT_EQ(answer.forAll, expected.forAll) << expected.button.toStdString();
        EXPECT_EQ(script.pending(), 0u);
    }
}

// A report of many files fits the screen: its first line in the box, the
// list in the scrollable details. A short one shows whole.
TEST_F(QtShellTest, AReportOfManyFilesKeepsItsListInTheDetails) {
    std::string many = "2000 entries were written under a new name:";
    for (int entry = 0; entry < 2000; ++entry)
        many += "\nEntry " + std::to_string(entry) + " a.txt was written as a (2).txt";
    const std::vector<std::tuple<std::string, QString, bool>> cases = {
        {many, QStringLiteral("2000 entries were written under a new name:"), true},
        {"1 entry was kept:\nEntry 3 b.txt", QStringLiteral("1 entry was kept:\nEntry 3 b.txt"),
         false},
    };
    for (const auto& [text, shownText, detailed] : cases) {
        DialogScript script;
        script.expect("report", [&](QWidget* widget) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->text(), shownText);
            EXPECT_EQ(box->detailedText().isEmpty(), !detailed);
            if (detailed) {
                EXPECT_TRUE(box->detailedText().startsWith(QStringLiteral("Entry 0 a.txt")));
                EXPECT_EQ(box->detailedText().count(QLatin1Char('\n')), 1999);
            }
            const QRect screen = box->screen()->availableGeometry();
            EXPECT_LE(box->sizeHint().height(), screen.height());
            box->button(QMessageBox::Ok)->click();
        });
        shell.showMessage(text, "Success!", MessageIcon::Information);
        EXPECT_EQ(script.pending(), 0u);
    }
}

TEST_F(QtShellTest, RowsAreShownAppendedAndEmptied) {
    shell.showRows(
        {{"0", "alpha.txt", "5 Bytes"},
         {"1", "b\xe9ta.bin", "4294967295 Bytes"}}); // a Latin-1 byte: shown, not dropped
    ASSERT_EQ(list->entryCount(), 2);
    EXPECT_EQ(cell(0, 0), QStringLiteral("0"));
    EXPECT_EQ(cell(0, 1), QStringLiteral("alpha.txt"));
    EXPECT_EQ(cell(0, 2), QStringLiteral("5 Bytes"));
    EXPECT_EQ(cell(1, 1), QStringLiteral("b\ufffdta.bin"));
    EXPECT_EQ(cell(1, 2), QStringLiteral("4294967295 Bytes"));
    shell.appendRow({"2", "gamma", "1 Bytes"});
    ASSERT_EQ(list->entryCount(), 3);
    EXPECT_EQ(cell(2, 1), QStringLiteral("gamma"));
    const QAbstractItemModel* model = list->model();
    EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Filename"));
    shell.showRows({});
    EXPECT_EQ(list->entryCount(), 0);
}

// A name from a safe made anywhere cannot break its row into lines or turn
// the text around; other characters show as they are.
TEST_F(QtShellTest, ANameThatWouldActInsteadOfShowingIsShownEscaped) {
    const std::vector<std::pair<std::string, QString>> names = {
        {"two\nlines", QStringLiteral("two\\x0Alines")},
        {"gpj.\xe2\x80\xae"
         "exe",
         QStringLiteral("gpj.\\xE2\\x80\\xAEexe")},
        {"line\xe2\x80\xa8"
         "sep",
         QStringLiteral("line\\xE2\\x80\\xA8sep")},
        {"caf\xc3\xa9", QStringLiteral("caf\u00e9")},
    };
    for (const auto& [name, cellText] : names) {
        shell.showRows({{"0", name, "1 Bytes"}});
        EXPECT_EQ(cell(0, 1), cellText) << name;
        shell.appendRow({"1", name, "1 Bytes"});
        EXPECT_EQ(cell(1, 1), cellText) << name;
    }
}

TEST_F(QtShellTest, ColumnsWidenForTextThatWouldBeCutButNeverNarrow) {
    shell.showRows({{"0", "a.txt", "5 Bytes"}});
    EXPECT_EQ(list->columnWidth(0), 128);
    EXPECT_EQ(list->columnWidth(1), 293);
    EXPECT_EQ(list->columnWidth(2), 80);
    shell.appendRow({"1", std::string(49, 'W'), "4294967295 Bytes"});
    const QFontMetrics metrics(list->font());
    const int nameWidth = list->columnWidth(1);
    const int sizeWidth = list->columnWidth(2);
    EXPECT_GT(nameWidth, metrics.horizontalAdvance(QString(49, QLatin1Char('W'))));
    EXPECT_GT(sizeWidth, metrics.horizontalAdvance(QStringLiteral("4294967295 Bytes")));
    shell.showRows({{"0", "a.txt", "5 Bytes"}});
    EXPECT_EQ(list->columnWidth(1), nameWidth);
    EXPECT_EQ(list->columnWidth(2), sizeWidth);
}

TEST_F(QtShellTest, FocusAndSelectionComeFromTheList) {
    std::vector<EntryRow> rows;
    for (int row = 0; row < 5; ++row)
        rows.push_back({std::to_string(row), "file" + std::to_string(row), "1 Bytes"});
    shell.showRows(rows);
    EXPECT_EQ(shell.focusedRow(), -1) << "no row has had the focus";
    EXPECT_EQ(shell.selectedCount(), 0);
    EXPECT_EQ(shell.nextSelectedRow(-1), -1);

    list->focusEntry(3);
    EXPECT_EQ(shell.focusedRow(), 3);
    list->clearSelection();
    list->selectEntry(4);
    list->selectEntry(1);
    list->selectEntry(2);
    EXPECT_EQ(shell.selectedCount(), 3);
    EXPECT_EQ(shell.nextSelectedRow(-1), 1);
    EXPECT_EQ(shell.nextSelectedRow(1), 2);
    EXPECT_EQ(shell.nextSelectedRow(2), 4);
    EXPECT_EQ(shell.nextSelectedRow(4), -1);
    // The focused row need not be selected.
    EXPECT_EQ(shell.focusedRow(), 3);
    shell.showRows({});
    EXPECT_EQ(shell.focusedRow(), -1);
}

TEST_F(QtShellTest, SafeButtonsFollowThePort) {
    QAction* save = program.window().toolbarAction(command::Save);
    ASSERT_NE(save, nullptr);
    EXPECT_FALSE(save->isEnabled());
    shell.SetSafeButtonsEnabled(true);
    EXPECT_TRUE(save->isEnabled());
    EXPECT_TRUE(program.window().toolbarAction(command::Extract)->isEnabled());
}

TEST_F(QtShellTest, ABoxAfterShowProgressIsNeverUnderTheBusyBox) {
    program.window().show();
    shell.ShowProgress("Adding File...");
    QTest::qWait(50);
    DialogScript script;
    script.expect("error box above everything", [this](QWidget* widget) {
        EXPECT_FALSE(shell.isBusyBoxShown()) << "the busy box is still up";
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->objectName() == QLatin1String("busyDialog")) {
                EXPECT_FALSE(top->isVisible()) << "a busy box covers the error";
            }
        }
        qobject_cast<QMessageBox*>(widget)->button(QMessageBox::Ok)->click();
    });
    shell.showMessage("Unable to get filesize", "Error", MessageIcon::Error);
    shell.HideProgress();
}

TEST_F(QtShellTest, DuringALongStepTheWindowTakesNoCommandAndNoClose) {
    program.window().show();
    DialogScript script; // an About box here would be a failure
    bool closeAccepted = true;
    bool busyInside = false;
    QTimer::singleShot(20, [&] {
        busyInside = shell.isBusy();
        program.window().routeCommand(command::About);
        QCloseEvent close;
        QApplication::sendEvent(&program.window(), &close);
        closeAccepted = close.isAccepted();
    });
    shell.ShowProgress("Adding File...");
    shell.runBusy([] { std::this_thread::sleep_for(std::chrono::milliseconds(400)); });
    shell.HideProgress();
    EXPECT_TRUE(busyInside);
    EXPECT_FALSE(closeAccepted);
    EXPECT_TRUE(program.window().isVisible());
    EXPECT_FALSE(shell.isBusy());
    EXPECT_TRUE(script.seen().empty());
}

TEST_F(QtShellTest, DestroyMainWindowHidesTheWindowForGood) {
    program.window().show();
    shell.ShowProgress("Securely Closing Safe...");
    shell.destroyMainWindow();
    EXPECT_FALSE(program.window().isVisible());
    EXPECT_TRUE(program.window().hasEnded());
    EXPECT_FALSE(shell.isBusyBoxShown());
    // Closing the ended window asks nothing and runs no close sequence again.
    DialogScript script;
    EXPECT_TRUE(program.window().close());
    QTest::qWait(30);
    EXPECT_TRUE(script.seen().empty());
}

} // namespace
} // namespace quorvane
