// The window and the dialogs as a keyboard user and a screen reader meet
// them: every control named, every menu command reachable by a mnemonic, the
// row menu on the menu key, no command on a stray Delete key, and the
// password never handed to the accessibility layer.

#include "app/CommandIds.h"
#include "app/EntryListView.h"
#include "app/MainWindow.h"
#include "dialogs/Dialogs.h"
#include "lifecycle/SafeState.h"
#include "lifecycle/Session.h"
#include "tests/a11y/AccessibleWalk.h"
#include "tests/support/ScriptedShell.h"

#include <QAccessible>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSet>
#include <QTest>
#include <QToolBar>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace quorvane {
namespace {

using test::NextWindow;

void expectEveryControlNamed(QWidget* window) {
    const std::vector<QWidget*> controls = test::controlsOf(window);
    EXPECT_FALSE(controls.empty())
        << "no controls found in " << window->windowTitle().toStdString();
    for (QWidget* control : controls) {
        EXPECT_FALSE(test::accessibleName(control).trimmed().isEmpty())
            << "a screen reader announces no name for " << test::describe(control).toStdString()
            << " in '" << window->windowTitle().toStdString() << "'";
    }
}

// The character after a single '&' of a menu text, lower-cased; 0 when the
// text has no mnemonic ("&&" is a literal ampersand).
QChar mnemonicOf(const QString& text) {
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != QLatin1Char('&'))
            continue;
        if (text[i + 1] == QLatin1Char('&')) {
            ++i;
            continue;
        }
        return text[i + 1].toLower();
    }
    return QChar();
}

class MainWindowKeyboardTest : public ::testing::Test {
  protected:
    MainWindowKeyboardTest() {
        window.setCommandHandler([this](int id) { routed.push_back(id); });
    }

    void showActive() {
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    void fillRows(int count) {
        EntryListView* list = window.entryList();
        std::vector<EntryRow> rows;
        for (int row = 0; row < count; ++row)
            rows.push_back({std::to_string(row), "file" + std::to_string(row) + ".txt",
                            std::to_string(row + 1) + " Bytes"});
        list->showEntries(rows);
    }

    void focusRow(int row) {
        EntryListView* list = window.entryList();
        list->setFocus();
        list->setCurrentIndex(list->model()->index(row, 0));
        ASSERT_TRUE(QTest::qWaitFor([list] { return list->hasFocus(); }));
    }

    SafeState state;
    test::ScriptedShell shell;
    Session session{state, shell};
    MainWindow window{session, [] { return false; }};
    std::vector<int> routed;
};

TEST_F(MainWindowKeyboardTest, EveryControlOfTheWindowHasAnAccessibleName) {
    fillRows(2);
    showActive();
    expectEveryControlNamed(&window);
    // Too narrow for the six buttons: the toolbar folds the rest behind its
    // extension button, which a keyboard user then has to find by name.
    window.resize(160, 300);
    QApplication::processEvents();
    expectEveryControlNamed(&window);
}

TEST_F(MainWindowKeyboardTest, ToolbarButtonsAreAnnouncedByTheirCommands) {
    showActive();
    const std::vector<std::pair<int, QString>> expected = {
        {32779, QStringLiteral("New Safe")},        {32771, QStringLiteral("Open Safe")},
        {32772, QStringLiteral("Save/Close Safe")}, {32778, QStringLiteral("Add File")},
        {32780, QStringLiteral("Delete")},          {32774, QStringLiteral("Extract")}};
    for (const auto& [id, name] : expected) {
        QAction* action = window.toolbarAction(id);
        ASSERT_NE(action, nullptr) << "no toolbar button for command " << id;
        QWidget* button = window.toolbar()->widgetForAction(action);
        ASSERT_NE(button, nullptr) << "command " << id << " has no button";
        EXPECT_EQ(test::accessibleName(button), name) << "command " << id;
    }
}

TEST_F(MainWindowKeyboardTest, EveryMenuAndCommandHasItsOwnMnemonic) {
    QSet<QChar> titles;
    const QList<QAction*> menus = window.menuBar()->actions();
    ASSERT_EQ(menus.size(), 4);
    for (QAction* menuAction : menus) {
        const QChar title = mnemonicOf(menuAction->text());
        EXPECT_FALSE(title.isNull())
            << "menu '" << menuAction->text().toStdString() << "' cannot be opened with Alt";
        EXPECT_FALSE(titles.contains(title))
            << "two menus answer Alt+" << QString(title).toStdString();
        titles.insert(title);

        ASSERT_NE(menuAction->menu(), nullptr);
        QSet<QChar> items;
        for (QAction* item : menuAction->menu()->actions()) {
            if (item->isSeparator())
                continue;
            const QChar key = mnemonicOf(item->text());
            EXPECT_FALSE(key.isNull()) << "'" << item->text().toStdString() << "' has no mnemonic";
            EXPECT_FALSE(items.contains(key))
                << "two items of '" << menuAction->text().toStdString() << "' share '"
                << QString(key).toStdString() << "'";
            items.insert(key);
        }
    }
}

TEST_F(MainWindowKeyboardTest, MenuKeyOnTheFocusedRowOpensTheRowMenu) {
    fillRows(3);
    showActive();
    focusRow(1);

    QStringList shown;
    NextWindow menu(NextWindow::Kind::PopupMenu, [&shown](QWidget* popup) {
        for (QAction* action : qobject_cast<QMenu*>(popup)->actions())
            shown << action->text();
    });
    // On X11 the platform plug-in turns the menu key into a keyboard
    // context-menu request, which the window hands to the focused widget at
    // its cursor; the offscreen platform has no such step, so do it here.
    QWidget* focused = QApplication::focusWidget();
    ASSERT_EQ(focused, window.entryList());
    const QPoint cursor = focused->inputMethodQuery(Qt::ImCursorRectangle).toRect().center();
    QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, cursor, focused->mapToGlobal(cursor));
    QApplication::sendEvent(focused, &menuKey);
    ASSERT_TRUE(QTest::qWaitFor([&menu] { return menu.visited(); }))
        << "the menu key on a focused row opened no menu";
    EXPECT_EQ(shown, (QStringList{QStringLiteral("Extract"), QStringLiteral("Rename"),
                                  QStringLiteral("Delete")}));
    EXPECT_TRUE(routed.empty()) << "closing the row menu ran command " << routed.front();
}

// The standard keys run their commands from the list and are shown in the
// menus; in the name filter, Delete edits the text.
TEST_F(MainWindowKeyboardTest, StandardKeysRunTheirCommandsAndTheMenusShowThem) {
    fillRows(3);
    showActive();
    focusRow(2);
    const std::vector<std::tuple<Qt::Key, Qt::KeyboardModifiers, int, QString>> keys = {
        {Qt::Key_N, Qt::ControlModifier, 32779, "Ctrl+N"},
        {Qt::Key_O, Qt::ControlModifier, 32771, "Ctrl+O"},
        {Qt::Key_S, Qt::ControlModifier, 32772, "Ctrl+S"},
        {Qt::Key_Q, Qt::ControlModifier, 105, "Ctrl+Q"},
        {Qt::Key_Delete, Qt::NoModifier, 32780, "Del"},
        {Qt::Key_F2, Qt::NoModifier, 32773, "F2"},
    };
    for (const auto& [key, modifiers, id, shown] : keys) {
        routed.clear();
        QTest::keyClick(window.entryList(), key, modifiers);
        EXPECT_EQ(routed, std::vector<int>{id}) << shown.toStdString();
        bool inMenu = false;
        for (QAction* action : window.findChildren<QAction*>())
            inMenu =
                inMenu || (action->data().toInt() == id && action->shortcut().toString() == shown);
        EXPECT_TRUE(inMenu) << shown.toStdString() << " not shown in a menu";
    }
    routed.clear();
    window.nameFilter()->setFocus();
    window.nameFilter()->setText(QStringLiteral("ab"));
    window.nameFilter()->setCursorPosition(0);
    QTest::keyClick(window.nameFilter(), Qt::Key_Delete);
    EXPECT_EQ(window.nameFilter()->text(), QStringLiteral("b"));
    EXPECT_TRUE(routed.empty());
}

TEST(PasswordDialogScreenReader, EveryControlIsNamedAndTheFieldIsAPasswordField) {
    NextWindow dialog(NextWindow::Kind::ModalDialog, [](QWidget* shown) {
        expectEveryControlNamed(shown);
        auto* field = shown->findChild<QLineEdit*>();
        ASSERT_NE(field, nullptr);
        EXPECT_EQ(field->echoMode(), QLineEdit::Password);
        QAccessibleInterface* node = QAccessible::queryAccessibleInterface(field);
        ASSERT_NE(node, nullptr);
        EXPECT_TRUE(node->state().passwordEdit);
        EXPECT_EQ(node->text(QAccessible::Name), QStringLiteral("Enter your Password:"));
    });
    dialogs::runPasswordDialog(nullptr);
    EXPECT_TRUE(dialog.visited()) << "no password dialog appeared";
}

TEST(PasswordDialogScreenReader, TheTypedPasswordNeverReachesTheAccessibilityLayer) {
    const QString typed = QStringLiteral("Hunter2-Secret");
    NextWindow dialog(NextWindow::Kind::ModalDialog, [&typed](QWidget* shown) {
        auto* field = shown->findChild<QLineEdit*>();
        ASSERT_NE(field, nullptr);
        QTest::keyClicks(field, typed);
        ASSERT_EQ(field->text(), typed) << "the typing did not reach the password field";
        const QStringList texts = test::everyAccessibleText(shown);
        EXPECT_FALSE(texts.isEmpty());
        for (const QString& text : texts) {
            EXPECT_FALSE(text.contains(typed))
                << "the accessibility layer reads out '" << text.toStdString() << "'";
            EXPECT_FALSE(text.contains(QStringLiteral("Hunter")));
        }
        qobject_cast<QDialog*>(shown)->reject();
    });
    EXPECT_EQ(dialogs::runPasswordDialog(nullptr), std::nullopt);
    EXPECT_TRUE(dialog.visited()) << "no password dialog appeared";
}

TEST(SmallDialogsScreenReader, RenameDialogAndAboutBoxControlsAreNamed) {
    std::optional<std::string> newEntryName = "not asked";
    const std::vector<std::pair<const char*, std::function<void()>>> boxes = {
        {"rename dialog", [&] { newEntryName = dialogs::runRenameDialog(nullptr); }},
        {"About box", [] { dialogs::runAboutDialog(nullptr); }},
    };
    for (const auto& [name, run] : boxes) {
        NextWindow dialog(NextWindow::Kind::ModalDialog,
                          [](QWidget* shown) { expectEveryControlNamed(shown); });
        run();
        EXPECT_TRUE(dialog.visited()) << "no " << name << " appeared";
    }
    EXPECT_EQ(newEntryName, std::nullopt);
}

} // namespace
} // namespace quorvane
