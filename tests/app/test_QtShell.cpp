// The desktop side of the port: boxes over the main window with the given
// icon, caption and text; the list operations on the real list; the busy box
// never above a box that asks; the end of the window.

#include "app/CommandIds.h"
#include "app/DesktopProgram.h"
#include "app/EntryListView.h"
#include "tests/app/DialogScript.h"

#include <QAbstractButton>
#include <QApplication>
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

    QString cell(int row, int column) { return list->topLevelItem(row)->text(column); }
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

TEST_F(QtShellTest, RowsAreInsertedFilledAndEmptied) {
    shell.insertRow(0, "0");
    shell.setRowText(0, 1, "alpha.txt");
    shell.setRowText(0, 2, "5 Bytes");
    shell.insertRow(1, "1");
    shell.setRowText(1, 1, "b\xe9ta.bin"); // a Latin-1 byte: shown, not dropped
    shell.setRowText(1, 2, "4294967295 Bytes");
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(cell(0, 0), QStringLiteral("0"));
    EXPECT_EQ(cell(0, 1), QStringLiteral("alpha.txt"));
    EXPECT_EQ(cell(0, 2), QStringLiteral("5 Bytes"));
    EXPECT_EQ(cell(1, 1), QStringLiteral("b\ufffdta.bin"));
    EXPECT_EQ(cell(1, 2), QStringLiteral("4294967295 Bytes"));
    // Rows and columns that do not exist are left alone.
    shell.setRowText(7, 1, "nowhere");
    shell.setRowText(0, 3, "nowhere");
    EXPECT_EQ(list->topLevelItemCount(), 2);
    shell.deleteAllRows();
    EXPECT_EQ(list->topLevelItemCount(), 0);
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
    shell.insertRow(0, "0");
    for (const auto& [name, cellText] : names) {
        shell.setRowText(0, 1, name);
        EXPECT_EQ(cell(0, 1), cellText) << name;
    }
}

TEST_F(QtShellTest, ColumnsWidenForTextThatWouldBeCutButNeverNarrow) {
    shell.insertRow(0, "0");
    shell.setRowText(0, 1, "a.txt");
    shell.setRowText(0, 2, "5 Bytes");
    EXPECT_EQ(list->columnWidth(0), 128);
    EXPECT_EQ(list->columnWidth(1), 293);
    EXPECT_EQ(list->columnWidth(2), 80);
    shell.insertRow(1, "1");
    shell.setRowText(1, 1, std::string(49, 'W'));
    shell.setRowText(1, 2, "4294967295 Bytes");
    const QFontMetrics metrics(list->font());
    EXPECT_GT(list->columnWidth(1), metrics.horizontalAdvance(QString(49, QLatin1Char('W'))));
    EXPECT_GT(list->columnWidth(2), metrics.horizontalAdvance(QStringLiteral("4294967295 Bytes")));
}

TEST_F(QtShellTest, FocusAndSelectionComeFromTheList) {
    for (int row = 0; row < 5; ++row)
        shell.insertRow(row, std::to_string(row));
    EXPECT_EQ(shell.focusedRow(), -1) << "no row has had the focus";
    EXPECT_EQ(shell.selectedCount(), 0);
    EXPECT_EQ(shell.nextSelectedRow(-1), -1);

    list->setCurrentItem(list->topLevelItem(3));
    EXPECT_EQ(shell.focusedRow(), 3);
    list->clearSelection();
    list->topLevelItem(4)->setSelected(true);
    list->topLevelItem(1)->setSelected(true);
    list->topLevelItem(2)->setSelected(true);
    EXPECT_EQ(shell.selectedCount(), 3);
    EXPECT_EQ(shell.nextSelectedRow(-1), 1);
    EXPECT_EQ(shell.nextSelectedRow(1), 2);
    EXPECT_EQ(shell.nextSelectedRow(2), 4);
    EXPECT_EQ(shell.nextSelectedRow(4), -1);
    // The focused row need not be selected.
    EXPECT_EQ(shell.focusedRow(), 3);
    shell.deleteAllRows();
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
