#pragma once

#include "lifecycle/Session.h"

#include <QList>
#include <QMainWindow>
#include <QUrl>

#include <functional>
#include <map>
#include <string>
#include <vector>

class QLabel;
class QLineEdit;
class QToolBar;

namespace quorvane {

class EntryListView;

// The program's one window: menus, toolbar and the list of stored files.
// It turns every gesture into a command id or a list of dropped paths and
// hands them on; the operations behind them live in lifecycle/ and entries/.
class MainWindow : public QMainWindow {
    Q_OBJECT

  public:
    using CommandHandler = std::function<void(int id)>;
    using DropHandler = std::function<void(const std::vector<std::string>& paths)>;
    using BusyQuery = std::function<bool()>;
    using RowHandler = std::function<void(int row)>;
    using SafeEndingHandler = std::function<void()>;
    // The files that dragged rows stand for; none when there is nothing to drag.
    using DragSource = std::function<QList<QUrl>(const std::vector<int>& rows)>;

    // isBusy tells whether a long step is under way; meanwhile commands,
    // drops and the close box are ignored.
    MainWindow(Session& session, BusyQuery isBusy, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The commands go to routeCommand and drops to addDroppedFiles unless a
    // test puts its own handlers in place.
    void setCommandHandler(CommandHandler handler);
    void setDropHandler(DropHandler handler);
    // A double-click or Enter on a row opens its stored file (through the
    // safe's folder); nothing until a handler is set.
    void setRowOpenHandler(RowHandler handler);
    // Runs before anything that ends the open safe (New Safe, Open Safe,
    // Save & Exit, the close box): the safe's folder is unmounted first.
    void setSafeEndingHandler(SafeEndingHandler handler);
    // Rows dragged out of the list carry what this gives for them; nothing
    // is dragged until it is set.
    void setDragSource(DragSource source);

    // Runs the command with this id, unless a long step is under way.
    void routeCommand(int id);

    // Save, Add File, Delete and Extract only work with a safe open; Seal
    // Safe only with a plain one.
    void SetSafeButtonsEnabled(bool enabled);
    // Closes the window for good and ends the event loop. A close that has
    // been decided this way does not ask the operations again.
    void endWindow();
    bool hasEnded() const { return ended_; }

    EntryListView* entryList() const { return entryList_; }
    // The field above the list that filters its rows by name.
    QLineEdit* nameFilter() const { return nameFilter_; }
    QToolBar* toolbar() const { return toolbar_; }
    // The toolbar's action for a command id, nullptr when it has no button.
    QAction* toolbarAction(int id) const;
    QAction* sealAction() const { return sealAction_; }
    // The line below the list that says where the safe is open as a folder,
    // with Show in File Manager and Close Folder; hidden for an empty dir.
    void showFolderStatus(const QString& dir);
    QWidget* folderStatus() const { return folderStatus_; }
    QAction* folderAction() const { return folderAction_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    QMenu* createPopupMenu() override;

  private:
    void buildMenus();
    void buildToolbar();
    void nameOverflowButtons();
    void buildShortcuts();
    void buildEntryList();
    void buildFolderStatus();
    void rememberFocusedRow();
    void showRowMenu(const QPoint& globalPosition);
    void deliverDrop(const std::vector<std::string>& paths);
    void updateSealAction();
    void openActivatedRow();
    void dragRowsOut();
    // The title bar names the open safe, and says when it is sealed.
    void updateTitle();

    Session& session_;
    BusyQuery isBusy_;
    CommandHandler commandHandler_;
    DropHandler dropHandler_;
    RowHandler rowOpenHandler_;
    SafeEndingHandler safeEndingHandler_;
    DragSource dragSource_;
    QToolBar* toolbar_ = nullptr;
    EntryListView* entryList_ = nullptr;
    QLineEdit* nameFilter_ = nullptr;
    std::map<int, QAction*> toolbarActions_;
    QAction* sealAction_ = nullptr;
    QAction* folderAction_ = nullptr;
    QAction* closeFolderAction_ = nullptr;
    QWidget* folderStatus_ = nullptr;
    QLabel* folderPlace_ = nullptr;
    bool ended_ = false;
};

} // namespace quorvane
