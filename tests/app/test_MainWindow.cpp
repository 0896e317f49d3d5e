// The main window as a person meets it: menus, toolbar, shortcuts, the list
// and its row menu, drops and the close box, with the commands recorded
// instead of carried out.

#include "app/CommandIds.h"
#include "app/CommandRouting.h"
#include "app/EntryListView.h"
#include "app/MainWindow.h"
#include "app/ProgramIcons.h"
#include "lifecycle/SafeState.h"
#include "tests/app/DialogScript.h"
#include "tests/support/ScriptedShell.h"
#include "tests/support/TestFiles.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QWindow>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace quorvane {
namespace {

using test::DialogScript;

struct Item {
    QString text;
    int id;
};

class MainWindowTest : public ::testing::Test {
  protected:
    MainWindowTest() {
        window.setCommandHandler([this](int id) { routed.push_back(id); });
        window.setDropHandler(
            [this](const std::vector<std::string>& paths) { drops.push_back(paths); });
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

    // Entry i with this name and size, as the port fills the list.
    void fillNamed(const std::vector<std::pair<QString, QString>>& rows) {
        std::vector<EntryRow> shown;
        for (int row = 0; row < static_cast<int>(rows.size()); ++row)
            shown.push_back({std::to_string(row),
                             rows[static_cast<std::size_t>(row)].first.toStdString(),
                             rows[static_cast<std::size_t>(row)].second.toStdString()});
        window.entryList()->showEntries(shown);
    }

    // The entries of the rows shown, top to bottom (a sort waits for the event loop).
    std::vector<int> shownEntries() {
        QApplication::processEvents();
        std::vector<int> entries;
        for (int at = 0; at < window.entryList()->shownCount(); ++at)
            entries.push_back(window.entryList()->entryAt(at));
        return entries;
    }

    QWidget* viewport() { return window.entryList()->viewport(); }

    void rightClickAt(const QPoint& viewportPosition) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, viewportPosition,
                                viewport()->mapToGlobal(viewportPosition));
        QApplication::sendEvent(viewport(), &event);
    }

    QPoint rowCentre(int row) {
        return window.entryList()->visualRect(window.entryList()->model()->index(row, 0)).center();
    }

    SafeState state;
    test::ScriptedShell shell;
    Session session{state, shell};
    bool busy = false;
    MainWindow window{session, [this] { return busy; }};
    std::vector<int> routed;
    std::vector<std::vector<std::string>> drops;
};

// --- the window itself -------------------------------------------------------

TEST_F(MainWindowTest, TitleNameFirstSizeAndIcon) {
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Quorvane"));
    EXPECT_EQ(window.objectName(), QStringLiteral("Quorvane"));
    EXPECT_EQ(window.size(), QSize(517, 500));
    EXPECT_FALSE(window.windowIcon().isNull());
}

TEST_F(MainWindowTest, EveryPictureIsThereAndRendersAt48Pixels) {
    for (int id : {107, 108, 136, 137, 138, 139, 140, 141}) {
        const QIcon icon = programIcon(id);
        ASSERT_FALSE(icon.isNull()) << "icon " << id;
        const QImage image = icon.pixmap(48, 48).toImage();
        ASSERT_EQ(image.size(), QSize(48, 48)) << "icon " << id;
        // Something is drawn: not every pixel is transparent.
        bool drawn = false;
        for (int y = 0; y < image.height() && !drawn; ++y)
            for (int x = 0; x < image.width() && !drawn; ++x)
                drawn = qAlpha(image.pixel(x, y)) != 0;
        EXPECT_TRUE(drawn) << "icon " << id << " is empty";
    }
    EXPECT_TRUE(programIcon(142).isNull());
    // The About box finds the program icon under this name.
    EXPECT_TRUE(QFile::exists(QStringLiteral(":/icons/app.svg")));
    // The six toolbar pictures differ from each other and from the program's.
    std::vector<QImage> images;
    for (int id : {107, 136, 137, 138, 139, 140, 141})
        images.push_back(programIcon(id).pixmap(48, 48).toImage());
    for (std::size_t a = 0; a < images.size(); ++a)
        for (std::size_t b = a + 1; b < images.size(); ++b)
            EXPECT_NE(images[a], images[b]) << a << " and " << b << " look the same";
}

// --- menus -------------------------------------------------------------------

TEST_F(MainWindowTest, MenuBarHasTheFourMenusWithTheirItemsTextsAndIds) {
    const std::vector<std::pair<QString, std::vector<Item>>> expected = {
        {"&File",
         {{"&New Safe", 32779},
          {"&Open Safe", 32771},
          {"&Save", 32772},
          {"&Close Safe", 32797},
          {"&Lock", 32795},
          {"Save && E&xit", 105}}},
        {"&Edit",
         {{"&Add File", 32778},
          {"New &Folder", 32799},
          {"&Delete File", 32780},
          {"&Rename File", 32773},
          {"&Preferences...", 32796}}},
        {"&Safe Options",
         {{"&Change Password", 32792},
          {"&Seal Safe...", 32793},
          {"Open as &Folder", 32794},
          {"C&lose Folder", 32798}}},
        {"&Help", {{"&About ...", 104}}},
    };
    // Menu items stay enabled whatever the safe buttons, but for Seal Safe,
    // which needs an open plain safe, Open as Folder, which needs an open
    // safe (none is open here), and Close Folder, which needs an open folder.
    window.SetSafeButtonsEnabled(true);
    window.SetSafeButtonsEnabled(false);
    const QList<QAction*> menus = window.menuBar()->actions();
    ASSERT_EQ(menus.size(), static_cast<qsizetype>(expected.size()));
    std::vector<int> ids;
    for (std::size_t m = 0; m < expected.size(); ++m) {
        QAction* menuAction = menus[static_cast<qsizetype>(m)];
        EXPECT_EQ(menuAction->text(), expected[m].first);
        ASSERT_NE(menuAction->menu(), nullptr);
        const QList<QAction*> items = menuAction->menu()->actions();
        ASSERT_EQ(items.size(), static_cast<qsizetype>(expected[m].second.size()));
        for (std::size_t i = 0; i < expected[m].second.size(); ++i) {
            QAction* item = items[static_cast<qsizetype>(i)];
            EXPECT_EQ(item->text(), expected[m].second[i].text);
            EXPECT_EQ(item->data().toInt(), expected[m].second[i].id) << item->text().toStdString();
            const bool enabled = expected[m].second[i].id != command::SealSafe &&
                                 expected[m].second[i].id != command::OpenAsFolder &&
                                 expected[m].second[i].id != command::CloseFolder;
            EXPECT_EQ(item->isEnabled(), enabled) << item->text().toStdString();
            item->trigger();
            if (enabled)
                ids.push_back(expected[m].second[i].id);
        }
    }
    // Each item routes its own id.
    EXPECT_EQ(routed, ids);
    // "&&" is a literal ampersand: a person reads "Save & Exit".
    EXPECT_EQ(QAction(QStringLiteral("Save && E&xit")).iconText(), QStringLiteral("Save & Exit"));
}

TEST_F(MainWindowTest, SealSafeIsGreyedUnlessAPlainSafeIsOpen) {
    test::TempFolder folder;
    QAction* seal = window.sealAction();
    ASSERT_NE(seal, nullptr);
    QMenu* safeOptions = window.menuBar()->actions()[2]->menu();
    const struct {
        const char* what;
        bool open;
        bool sealed;
        bool enabled;
    } cases[] = {{"no safe", false, false, false},
                 {"plain safe", true, false, true},
                 {"sealed safe", true, true, false},
                 {"plain again", true, false, true}};
    for (const auto& c : cases) {
        state.workingCopy.reset();
        std::filesystem::remove(folder / "temp2");
        if (c.open) {
            state.workingCopy = std::make_unique<WorkingCopy>(folder / "temp2");
        }
        state.sealedKey = c.sealed ? std::make_unique<SealedKey>() : nullptr;
        // Opening a safe switches the buttons; sealing one is seen when the menu opens.
        if (c.sealed)
            emit safeOptions->aboutToShow();
        else
            window.SetSafeButtonsEnabled(c.open);
        EXPECT_EQ(seal->isEnabled(), c.enabled) << c.what;
    }
}

// --- toolbar -----------------------------------------------------------------

TEST_F(MainWindowTest, ToolbarHasSixPictureButtonsInOrderWithIdsAndTooltips) {
    const std::vector<Item> expected = {{"New Safe", 32779},        {"Open Safe", 32771},
                                        {"Save/Close Safe", 32772}, {"Add File", 32778},
                                        {"Delete", 32780},          {"Extract", 32774}};
    QToolBar* toolbar = window.toolbar();
    ASSERT_NE(toolbar, nullptr);
    EXPECT_FALSE(toolbar->isMovable());
    EXPECT_FALSE(toolbar->isFloatable());
    EXPECT_EQ(toolbar->iconSize(), QSize(48, 48));
    EXPECT_EQ(toolbar->toolButtonStyle(), Qt::ToolButtonIconOnly);
    const QList<QAction*> actions = toolbar->actions();
    ASSERT_EQ(actions.size(), 6);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        QAction* action = actions[static_cast<qsizetype>(i)];
        EXPECT_EQ(action->toolTip(), expected[i].text);
        EXPECT_EQ(action->data().toInt(), expected[i].id);
        EXPECT_FALSE(action->icon().isNull());
        auto* button = qobject_cast<QToolButton*>(toolbar->widgetForAction(action));
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->toolButtonStyle(), Qt::ToolButtonIconOnly);
        EXPECT_EQ(button->accessibleName(), expected[i].text);
        EXPECT_EQ(window.toolbarAction(expected[i].id), action);
    }
    EXPECT_EQ(window.toolbarAction(105), nullptr);
}

TEST_F(MainWindowTest, SafeButtonsAreDisabledAtStartAndFollowSetSafeButtonsEnabled) {
    auto enabledIds = [this] {
        std::vector<int> ids;
        for (QAction* action : window.toolbar()->actions())
            if (action->isEnabled())
                ids.push_back(action->data().toInt());
        return ids;
    };
    EXPECT_EQ(enabledIds(), (std::vector<int>{32779, 32771}));
    window.SetSafeButtonsEnabled(true);
    EXPECT_EQ(enabledIds(), (std::vector<int>{32779, 32771, 32772, 32778, 32780, 32774}));
    window.SetSafeButtonsEnabled(false);
    EXPECT_EQ(enabledIds(), (std::vector<int>{32779, 32771}));
}

TEST_F(MainWindowTest, ClickingEachEnabledButtonRoutesItsId) {
    showActive();
    for (int id : {32772, 32778, 32780, 32774})
        QTest::mouseClick(window.toolbar()->widgetForAction(window.toolbarAction(id)),
                          Qt::LeftButton);
    EXPECT_TRUE(routed.empty()) << "a disabled button routed";
    window.SetSafeButtonsEnabled(true);
    std::vector<int> expected;
    for (QAction* action : window.toolbar()->actions()) {
        QWidget* button = window.toolbar()->widgetForAction(action);
        QTest::mouseClick(button, Qt::LeftButton);
        expected.push_back(action->data().toInt());
    }
    EXPECT_EQ(routed, expected);
}

// --- shortcuts -----------------------------------------------------------------

TEST_F(MainWindowTest, AltQuestionMarkAndAltSlashOpenTheAboutBox) {
    // The real routing this time: the About box opens and the script closes it.
    window.setCommandHandler([this](int id) {
        routed.push_back(id);
        routeCommand(session, &window, id);
    });
    showActive();
    const std::vector<std::pair<Qt::Key, Qt::KeyboardModifiers>> presses = {
        {Qt::Key_Question, Qt::AltModifier},
        {Qt::Key_Slash, Qt::AltModifier},
        {Qt::Key_Question, Qt::AltModifier | Qt::ShiftModifier},
        {Qt::Key_Slash, Qt::AltModifier | Qt::ShiftModifier},
    };
    for (const auto& [key, modifiers] : presses) {
        routed.clear();
        // The About box took the activation; shortcuts need it back.
        showActive();
        DialogScript script;
        script.expectAbout();
        QTest::keyClick(&window, key, modifiers);
        EXPECT_TRUE(script.waitUntilDone(5000))
            << "no About box for key " << key << " with modifiers " << modifiers.toInt();
        EXPECT_EQ(routed, std::vector<int>{104});
    }
    // Without Alt the same keys do nothing, in the window or in the list.
    routed.clear();
    showActive();
    QTest::keyClick(&window, Qt::Key_Question);
    QTest::keyClick(&window, Qt::Key_Question, Qt::ShiftModifier);
    QTest::keyClick(&window, Qt::Key_Slash);
    QTest::keyClick(window.entryList(), Qt::Key_Slash);
    QTest::keyClick(&window, Qt::Key_Slash, Qt::ControlModifier);
    EXPECT_TRUE(routed.empty());
}

// --- the list --------------------------------------------------------------------

TEST_F(MainWindowTest, EntryListHasThreeLeftAlignedColumnsWithTheirWidths) {
    EntryListView* list = window.entryList();
    EXPECT_EQ(list->objectName(), QStringLiteral("EntryList"));
    EXPECT_EQ(list->parentWidget(), window.centralWidget());
    // A fourth, Modified, shows only for a safe that keeps times.
    ASSERT_EQ(list->model()->columnCount(), 4);
    EXPECT_TRUE(list->isColumnHidden(3));
    EXPECT_EQ(list->model()->headerData(3, Qt::Horizontal).toString(), QStringLiteral("Modified"));
    const std::vector<std::pair<QString, int>> expected = {
        {"File Number", 128}, {"Filename", 293}, {"Size", 80}};
    for (int column = 0; column < 3; ++column) {
        EXPECT_EQ(list->model()->headerData(column, Qt::Horizontal).toString(),
                  expected[column].first);
        EXPECT_EQ(list->columnWidth(column), expected[column].second);
    }
    EXPECT_TRUE(list->header()->defaultAlignment() & Qt::AlignLeft);
    EXPECT_FALSE(list->header()->stretchLastSection());
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(list->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_FALSE(list->rootIsDecorated());
    // A header click sorts; until then the rows stand in entry order.
    EXPECT_TRUE(list->isSortingEnabled());
    EXPECT_EQ(list->header()->sortIndicatorSection(), -1);
    EXPECT_FALSE(list->accessibleName().isEmpty());
}

TEST_F(MainWindowTest, ListFillsTheWindowBelowTheToolbarDownToItsBottomEdge) {
    fillRows(40);
    showActive();
    for (const QSize size : {QSize(517, 500), QSize(800, 300), QSize(400, 640)}) {
        window.resize(size);
        QTest::qWait(20);
        const QRect list(window.entryList()->mapTo(&window, QPoint(0, 0)),
                         window.entryList()->size());
        const QRect bar = window.toolbar()->geometry();
        EXPECT_GE(list.top(), bar.bottom()) << "the list starts under the toolbar";
        EXPECT_EQ(list.bottom(), window.rect().bottom()) << "nothing hangs below the window";
        EXPECT_EQ(list.width(), window.width());
    }
    // The last row can be scrolled into view, inside the window.
    EntryListView* list = window.entryList();
    list->scrollTo(list->model()->index(39, 0));
    QTest::qWait(20);
    const QRect last = list->visualRect(list->model()->index(39, 0));
    EXPECT_GE(last.top(), 0);
    EXPECT_LE(last.bottom(), list->viewport()->rect().bottom());
}

// The filter shows the rows whose name holds its text, whatever the case; the
// commands then see only those rows, each as the entry it shows.
TEST_F(MainWindowTest, TheNameFilterShowsMatchingRowsAndCommandsSeeOnlyThose) {
    fillNamed({{"IMG_0001.JPG", "1 Bytes"},
               {"notes.txt", "2 Bytes"},
               {"img_0002.jpg", "3 Bytes"},
               {"\u00c9t\u00e9 \u00e0 Arles.png", "4 Bytes"}});
    EntryListView* list = window.entryList();
    const std::vector<std::pair<QString, std::vector<int>>> cases = {
        {"img", {0, 2}}, {"\u00e9T\u00c9", {3}}, {"zzz", {}}, {"", {0, 1, 2, 3}}};
    for (const auto& [text, shown] : cases) {
        window.nameFilter()->clear();
        list->setCurrentIndex(list->indexOfEntry(1));
        list->selectAll();
        window.nameFilter()->setText(text);
        EXPECT_EQ(shownEntries(), shown) << text.toStdString();
        std::vector<int> selected;
        for (int row = list->nextSelectedRow(-1); row != -1; row = list->nextSelectedRow(row))
            selected.push_back(row);
        EXPECT_EQ(selected, shown) << "a hidden row must not be extracted";
        EXPECT_EQ(list->selectedCount(), static_cast<int>(shown.size()));
        EXPECT_EQ(list->focusedRow(), text.isEmpty() ? 1 : -1) << "nor deleted or renamed";
    }
    // Ctrl+F goes to the field, Esc empties it.
    showActive();
    QTest::keyClick(&window, Qt::Key_F, Qt::ControlModifier);
    ASSERT_EQ(QApplication::focusWidget(), window.nameFilter());
    QTest::keyClicks(window.nameFilter(), QStringLiteral("notes"));
    EXPECT_EQ(shownEntries(), std::vector<int>{1});
    QTest::keyClick(window.nameFilter(), Qt::Key_Escape);
    EXPECT_EQ(shownEntries(), (std::vector<int>{0, 1, 2, 3}));
}

// A header click sorts by that column, a second one the other way round:
// numbers and sizes as numbers, names without regard to case and with their
// numbers in order. Rows keep their entries; a refill keeps the order.
TEST_F(MainWindowTest, HeaderClicksSortAndEveryRowKeepsItsEntry) {
    const std::vector<std::pair<QString, QString>> rows = {
        {"b.txt", "10 Bytes"},   {"A.txt", "9 Bytes"}, {"c.txt", "4294967216 Bytes"},
        {"IMG_10", "100 Bytes"}, {"IMG_9", "0 Bytes"}, {"a.txt", "9 Bytes"},
        {"d", "1 Bytes"},        {"e", "1 Bytes"},     {"f", "1 Bytes"},
        {"g", "1 Bytes"},        {"h", "1 Bytes"}};
    fillNamed(rows);
    showActive();
    QHeaderView* header = window.entryList()->header();
    const std::pair<int, std::vector<int>> clicks[] = {{2, {4, 6, 7, 8, 9, 10, 1, 5, 0, 3, 2}},
                                                       {2, {2, 3, 0, 5, 1, 10, 9, 8, 7, 6, 4}},
                                                       {1, {1, 5, 0, 2, 6, 7, 8, 9, 10, 4, 3}},
                                                       {0, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
                                                       {0, {10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0}}};
    for (const auto& [column, order] : clicks) {
        const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
        EXPECT_EQ(shownEntries(), order) << "column " << column;
    }
    EntryListView* list = window.entryList();
    QTest::mouseClick(viewport(), Qt::LeftButton, {},
                      list->visualRect(list->model()->index(0, 0)).center());
    EXPECT_EQ(session.CurrentRow, 10) << "the top row shows entry 10";
    fillNamed(rows);
    EXPECT_EQ(shownEntries(), clicks[4].second);
}

// The name column takes the room a wider window gives.
TEST_F(MainWindowTest, TheNameColumnTakesTheRoomTheWindowGives) {
    fillRows(3);
    showActive();
    EntryListView* list = window.entryList();
    for (const int width : {517, 1300}) {
        window.resize(width, 500);
        QTest::qWait(20);
        const int room = list->viewport()->width() - list->columnWidth(0) - list->columnWidth(2);
        EXPECT_EQ(list->columnWidth(1), std::max(room, 293)) << width;
    }
}

TEST_F(MainWindowTest, TheTitleNamesTheOpenSafeAndSaysWhenItIsSealed) {
    test::TempFolder folder;
    const std::tuple<const char*, bool, QString> cases[] = {
        {"/u/notes.cx", false, "notes.cx \u2014 Quorvane"},
        {"/u/notes.cx", true, "notes.cx (sealed) \u2014 Quorvane"},
        {"/u/caf\xc3\xa9 [*].cx", false, "caf\u00e9 [*].cx \u2014 Quorvane"}};
    window.winId(); // the title as the window system gets it
    state.workingCopy = std::make_unique<WorkingCopy>(folder / "temp2");
    for (const auto& [path, sealed, title] : cases) {
        state.safePath = path;
        state.sealedKey = sealed ? std::make_unique<SealedKey>() : nullptr;
        // Opening switches the buttons on; sealing is a command of its own.
        if (sealed)
            window.routeCommand(command::SealSafe);
        else
            window.SetSafeButtonsEnabled(true);
        EXPECT_EQ(window.windowHandle()->title(), title);
    }
    state.workingCopy.reset();
    window.SetSafeButtonsEnabled(false);
    EXPECT_EQ(window.windowHandle()->title(), QStringLiteral("Quorvane"));
}

TEST_F(MainWindowTest, TakingTheFocusDoesNotFocusARow) {
    fillRows(3);
    showActive();
    window.entryList()->setFocus(Qt::TabFocusReason);
    QTest::qWait(10);
    EXPECT_EQ(window.entryList()->focusedRow(), -1);
}

TEST_F(MainWindowTest, ClicksAndDoubleClicksSetCurrentRowAndStartNothing) {
    fillRows(4);
    showActive();
    QTest::mouseClick(viewport(), Qt::LeftButton, {}, rowCentre(2));
    EXPECT_EQ(session.CurrentRow, 2);
    QTest::mouseDClick(viewport(), Qt::LeftButton, {}, rowCentre(0));
    EXPECT_EQ(session.CurrentRow, 0);
    // Ctrl+click adds a row; the focus moves to it.
    QTest::mouseClick(viewport(), Qt::LeftButton, Qt::ControlModifier, rowCentre(3));
    EXPECT_EQ(session.CurrentRow, 3);
    EXPECT_EQ(window.entryList()->selectedCount(), 2);
    EXPECT_TRUE(routed.empty());
}

TEST_F(MainWindowTest, RightClickWithoutAFocusedRowShowsNoMenu) {
    fillRows(3);
    showActive();
    DialogScript script; // no step: any menu fails the test
    rightClickAt(rowCentre(1));
    QTest::qWait(50);
    EXPECT_EQ(session.CurrentRow, -1);
    EXPECT_TRUE(routed.empty());
    EXPECT_TRUE(script.seen().empty());
}

TEST_F(MainWindowTest, RightClickOnTheFocusedRowOffersExtractRenameDelete) {
    fillRows(3);
    showActive();
    window.entryList()->setCurrentIndex(window.entryList()->model()->index(1, 0));
    const std::vector<std::pair<QString, int>> choices = {
        {"Extract", 32774}, {"Rename", 32773}, {"Delete", 32781}};
    for (const auto& [choice, id] : choices) {
        routed.clear();
        DialogScript script;
        script.expectMenu([choice = choice](QMenu* menu) {
            const QList<QAction*> actions = menu->actions();
            ASSERT_EQ(actions.size(), 3);
            EXPECT_EQ(actions[0]->text(), QStringLiteral("Extract"));
            EXPECT_EQ(actions[0]->data().toInt(), 32774);
            EXPECT_EQ(actions[1]->text(), QStringLiteral("Rename"));
            EXPECT_EQ(actions[1]->data().toInt(), 32773);
            EXPECT_EQ(actions[2]->text(), QStringLiteral("Delete"));
            EXPECT_EQ(actions[2]->data().toInt(), 32781);
            DialogScript::choose(menu, choice);
        });
        rightClickAt(rowCentre(1));
        EXPECT_TRUE(script.waitUntilDone());
        EXPECT_EQ(session.CurrentRow, 1);
        EXPECT_EQ(routed, std::vector<int>{id}) << choice.toStdString();
    }
}

TEST_F(MainWindowTest, TheRowMenuOpensAtTheCursor) {
    fillRows(3);
    showActive();
    window.entryList()->setCurrentIndex(window.entryList()->model()->index(0, 0));
    const QPoint at = rowCentre(2);
    DialogScript script;
    script.expectMenu([&](QMenu* menu) {
        EXPECT_EQ(menu->pos(), viewport()->mapToGlobal(at));
        menu->close();
    });
    rightClickAt(at);
    EXPECT_TRUE(script.waitUntilDone());
    // Closing the menu without a choice starts nothing.
    EXPECT_TRUE(routed.empty());
}

TEST_F(MainWindowTest, TheMenuKeyOpensTheRowMenuToo) {
    fillRows(2);
    showActive();
    window.entryList()->setCurrentIndex(window.entryList()->model()->index(1, 0));
    DialogScript script;
    script.expectMenu([](QMenu* menu) { DialogScript::choose(menu, QStringLiteral("Rename")); });
    QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(5, 5),
                            window.entryList()->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(window.entryList(), &event);
    EXPECT_TRUE(script.waitUntilDone());
    EXPECT_EQ(routed, std::vector<int>{32773});
}

// --- drops ---------------------------------------------------------------------

QMimeData* urlsMime(const QList<QUrl>& urls) {
    auto* mime = new QMimeData;
    mime->setUrls(urls);
    return mime;
}

// Whether the window accepts a drag of mime entering at its centre.
bool dragEnters(QWidget& window, QMimeData* mime) {
    QDragEnterEvent enter(window.rect().center(), Qt::CopyAction, mime, Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    return enter.isAccepted();
}

// Drags mime in and drops it at the window's centre; whether both were taken.
bool dragAndDrop(QWidget& window, QMimeData* mime) {
    const bool entered = dragEnters(window, mime);
    QDropEvent drop(window.rect().center(), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);
    return entered && drop.isAccepted();
}

TEST_F(MainWindowTest, DroppedLocalFilesReachTheHandlerInDropOrder) {
    showActive();
    std::unique_ptr<QMimeData> mime(urlsMime({
        QUrl::fromLocalFile(QStringLiteral("/tmp/drop/zeta.txt")),
        QUrl(QStringLiteral("https://example.org/not-a-file")),
        QUrl::fromLocalFile(QStringLiteral("/tmp/drop/with space/alpha \u00e9.bin")),
    }));
    EXPECT_TRUE(dragAndDrop(window, mime.get()));
    ASSERT_TRUE(QTest::qWaitFor([this] { return !drops.empty(); }, 2000));
    ASSERT_EQ(drops.size(), 1u);
    EXPECT_EQ(drops[0], (std::vector<std::string>{"/tmp/drop/zeta.txt",
                                                  "/tmp/drop/with space/alpha \xc3\xa9.bin"}));
}

TEST_F(MainWindowTest, ADragWithoutLocalFilesIsRefused) {
    showActive();
    std::unique_ptr<QMimeData> mime(urlsMime({QUrl(QStringLiteral("https://example.org/x"))}));
    EXPECT_FALSE(dragEnters(window, mime.get()));
    QMimeData text;
    text.setText(QStringLiteral("/etc/passwd"));
    EXPECT_FALSE(dragEnters(window, &text));
}

TEST_F(MainWindowTest, ADropDuringALongStepWaitsForItsEnd) {
    showActive();
    busy = true;
    std::unique_ptr<QMimeData> mime(
        urlsMime({QUrl::fromLocalFile(QStringLiteral("/tmp/drop/later.txt"))}));
    dragAndDrop(window, mime.get());
    QTest::qWait(250);
    EXPECT_TRUE(drops.empty());
    busy = false;
    ASSERT_TRUE(QTest::qWaitFor([this] { return !drops.empty(); }, 2000));
    EXPECT_EQ(drops[0], std::vector<std::string>{"/tmp/drop/later.txt"});
}

// --- busy and closing ------------------------------------------------------------

TEST_F(MainWindowTest, NothingIsRoutedAndTheWindowStaysWhileBusy) {
    busy = true;
    window.routeCommand(command::About);
    window.menuBar()->actions()[0]->menu()->actions()[0]->trigger();
    QCloseEvent close;
    QApplication::sendEvent(&window, &close);
    EXPECT_FALSE(close.isAccepted());
    EXPECT_TRUE(routed.empty());
    EXPECT_TRUE(shell.events.empty()) << "the close sequence ran while busy";
    busy = false;
    window.routeCommand(command::Save);
    EXPECT_EQ(routed, std::vector<int>{command::Save});
}

TEST_F(MainWindowTest, TheCloseBoxWithNoSafeOpenEndsTheWindowOnce) {
    showActive();
    window.close();
    EXPECT_TRUE(window.hasEnded());
    EXPECT_FALSE(window.isVisible());
    // The scripted port saw one request to end the window, from the close.
    EXPECT_EQ(shell.events, std::vector<std::string>{"destroy"});
    // A window that has ended closes without asking anything again, and
    // takes no more commands.
    QCloseEvent again;
    QApplication::sendEvent(&window, &again);
    EXPECT_TRUE(again.isAccepted());
    window.routeCommand(command::Save);
    EXPECT_EQ(shell.events.size(), 1u);
    EXPECT_TRUE(routed.empty());
}

} // namespace
} // namespace quorvane
