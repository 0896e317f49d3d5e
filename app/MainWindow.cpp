#include "app/MainWindow.h"

#include "app/CommandRouting.h"
#include "app/EntryListView.h"
#include "app/ProgramIcons.h"
#include "app/WindowLayout.h"
#include "entries/Entries.h"
#include "lifecycle/Lifecycle.h"
#include "lifecycle/SafeFormat.h"

#include <QAction>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <filesystem>

namespace quorvane {

namespace {

QString text(const char* utf8) {
    return QString::fromUtf8(utf8);
}

} // namespace

MainWindow::MainWindow(Session& session, BusyQuery isBusy, QWidget* parent)
    : QMainWindow(parent), session_(session), isBusy_(std::move(isBusy)) {
    commandHandler_ = [this](int id) { quorvane::routeCommand(session_, this, id); };
    dropHandler_ = [this](const std::vector<std::string>& paths) {
        addDroppedFiles(session_, paths);
    };

    setObjectName(text(layout::WindowTitle));
    setWindowTitle(text(layout::WindowTitle));
    setWindowIcon(applicationIcon());
    resize(layout::FirstWidth, layout::FirstHeight);
    setAcceptDrops(true);

    buildMenus();
    buildToolbar();
    buildEntryList();
    buildFolderStatus();
    buildShortcuts();
    nameOverflowButtons();
    SetSafeButtonsEnabled(false);
}

void MainWindow::nameOverflowButtons() {
    // In a narrow window the menu bar and the toolbar fold their last items
    // behind a button of Qt's own; a screen reader needs a name for it too.
    if (auto* more = menuBar()->findChild<QToolButton*>(QStringLiteral("qt_menubar_ext_button")))
        more->setAccessibleName(QStringLiteral("More menus"));
    if (auto* more = toolbar_->findChild<QToolButton*>(QStringLiteral("qt_toolbar_ext_button")))
        more->setAccessibleName(QStringLiteral("More tools"));
}

MainWindow::~MainWindow() = default;

void MainWindow::setCommandHandler(CommandHandler handler) {
    commandHandler_ = std::move(handler);
}

void MainWindow::setDropHandler(DropHandler handler) {
    dropHandler_ = std::move(handler);
}

void MainWindow::setRowOpenHandler(RowHandler handler) {
    rowOpenHandler_ = std::move(handler);
}

void MainWindow::setSafeEndingHandler(SafeEndingHandler handler) {
    safeEndingHandler_ = std::move(handler);
}

void MainWindow::setDragSource(DragSource source) {
    dragSource_ = std::move(source);
}

void MainWindow::buildMenus() {
    for (const auto& definition : layout::MainMenu) {
        QMenu* menu = menuBar()->addMenu(text(definition.title));
        for (const auto& item : definition.items) {
            QAction* action = menu->addAction(text(item.text));
            action->setData(item.id);
            if (item.keys != nullptr) {
                action->setShortcut(QKeySequence(QString::fromLatin1(item.keys)));
                action->setShortcutContext(Qt::WindowShortcut);
            }
            const int id = item.id;
            connect(action, &QAction::triggered, this, [this, id] { routeCommand(id); });
            if (id == command::SealSafe)
                sealAction_ = action;
            if (id == command::OpenAsFolder)
                folderAction_ = action;
            if (id == command::CloseFolder)
                closeFolderAction_ = action;
        }
        // The safe may have been sealed or closed since the buttons were last switched.
        connect(menu, &QMenu::aboutToShow, this, &MainWindow::updateSealAction);
    }
}

void MainWindow::buildToolbar() {
    toolbar_ = new QToolBar(this);
    toolbar_->setObjectName(QStringLiteral("Toolbar"));
    toolbar_->setAccessibleName(QStringLiteral("Toolbar"));
    toolbar_->setMovable(false);
    toolbar_->setFloatable(false);
    toolbar_->setIconSize(QSize(layout::ToolbarIconSize, layout::ToolbarIconSize));
    toolbar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    addToolBar(Qt::TopToolBarArea, toolbar_);

    for (const auto& button : layout::Toolbar) {
        const QString tip = text(button.tooltip);
        auto* action = new QAction(programIcon(button.iconId), tip, this);
        action->setToolTip(tip);
        action->setData(button.id);
        const int id = button.id;
        connect(action, &QAction::triggered, this, [this, id] { routeCommand(id); });
        toolbar_->addAction(action);
        if (QWidget* widget = toolbar_->widgetForAction(action))
            widget->setAccessibleName(tip);
        toolbarActions_[button.id] = action;
    }
}

void MainWindow::buildEntryList() {
    auto* page = new QWidget(this);
    nameFilter_ = new QLineEdit(page);
    nameFilter_->setObjectName(QStringLiteral("NameFilter"));
    nameFilter_->setAccessibleName(text(layout::FilterName));
    nameFilter_->setPlaceholderText(text(layout::FilterPlaceholder));
    nameFilter_->setClearButtonEnabled(true);
    // Files dropped here are files to add, as anywhere else in the window,
    // not text for the field.
    nameFilter_->setAcceptDrops(false);
    entryList_ = new EntryListView(page);

    auto* filterRow = new QHBoxLayout;
    constexpr int FilterMargin = 4;
    filterRow->setContentsMargins(FilterMargin, FilterMargin, FilterMargin, FilterMargin);
    filterRow->addWidget(nameFilter_);
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addLayout(filterRow);
    column->addWidget(entryList_, 1);
    setCentralWidget(page);
    setTabOrder(nameFilter_, entryList_);

    connect(nameFilter_, &QLineEdit::textChanged, entryList_, &EntryListView::setNameFilter);
    connect(entryList_, &EntryListView::clickedAnywhere, this, &MainWindow::rememberFocusedRow);
    connect(entryList_, &EntryListView::rowMenuRequested, this, &MainWindow::showRowMenu);
    connect(entryList_, &EntryListView::dragOutRequested, this, &MainWindow::dragRowsOut);
    // A double-click, or Enter on the focused row.
    connect(entryList_, &QAbstractItemView::activated, this, &MainWindow::openActivatedRow);
}

void MainWindow::buildFolderStatus() {
    folderStatus_ = new QWidget(this);
    folderStatus_->setObjectName(QStringLiteral("FolderStatus"));
    folderPlace_ = new QLabel(folderStatus_);
    folderPlace_->setObjectName(QStringLiteral("FolderPlace"));
    folderPlace_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* show = new QPushButton(text(layout::ShowInFileManager), folderStatus_);
    show->setObjectName(QStringLiteral("ShowFolder"));
    auto* close = new QPushButton(text(layout::CloseFolder), folderStatus_);
    close->setObjectName(QStringLiteral("CloseFolder"));
    connect(show, &QPushButton::clicked, this, [this] { routeCommand(command::OpenAsFolder); });
    connect(close, &QPushButton::clicked, this, [this] { routeCommand(command::CloseFolder); });
    auto* row = new QHBoxLayout(folderStatus_);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(folderPlace_, 1);
    row->addWidget(show);
    row->addWidget(close);
    statusBar()->addWidget(folderStatus_, 1);
    statusBar()->setSizeGripEnabled(false);
    showFolderStatus(QString());
}

void MainWindow::showFolderStatus(const QString& dir) {
    folderPlace_->setText(text(layout::FolderStatus) + dir);
    folderPlace_->setToolTip(dir);
    // The line takes no room while no folder is open.
    statusBar()->setVisible(!dir.isEmpty());
    if (closeFolderAction_ != nullptr)
        closeFolderAction_->setEnabled(!dir.isEmpty());
}

void MainWindow::openActivatedRow() {
    rememberFocusedRow();
    if (session_.CurrentRow == -1 || ended_ || isBusy_() || !rowOpenHandler_)
        return;
    rowOpenHandler_(session_.CurrentRow);
}

void MainWindow::buildShortcuts() {
    // Ctrl+F goes to the filter field; Esc there empties it.
    auto* find = new QShortcut(QKeySequence::Find, this);
    find->setContext(Qt::WindowShortcut);
    connect(find, &QShortcut::activated, this, [this] {
        nameFilter_->setFocus(Qt::ShortcutFocusReason);
        nameFilter_->selectAll();
    });
    auto* clearFilter = new QShortcut(QKeySequence(Qt::Key_Escape), nameFilter_);
    clearFilter->setContext(Qt::WidgetShortcut);
    connect(clearFilter, &QShortcut::activated, nameFilter_, &QLineEdit::clear);

    // Alt+"?" and Alt+"/" open the About box. Where "?" needs Shift the key
    // arrives as Alt+Shift+"?" (or, from some layouts, Alt+Shift+"/"), so
    // those forms are bound too. Several of them may match one key press;
    // Qt then reports the match as ambiguous, which must open the box all
    // the same.
    const QKeySequence sequences[] = {
        QKeySequence(Qt::ALT | Qt::Key_Question),
        QKeySequence(Qt::ALT | Qt::Key_Slash),
        QKeySequence(Qt::ALT | Qt::SHIFT | Qt::Key_Question),
        QKeySequence(Qt::ALT | Qt::SHIFT | Qt::Key_Slash),
    };
    for (const QKeySequence& sequence : sequences) {
        auto* shortcut = new QShortcut(sequence, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, [this] { routeCommand(command::About); });
        connect(shortcut, &QShortcut::activatedAmbiguously, this,
                [this] { routeCommand(command::About); });
    }
}

void MainWindow::routeCommand(int id) {
    if (ended_ || isBusy_())
        return;
    if (safeEndingHandler_ && (id == command::NewSafe || id == command::OpenSafe ||
                               id == command::SaveAndExit || id == command::CloseSafe))
        safeEndingHandler_();
    commandHandler_(id);
    // Sealing, for one, changes what the title says without switching buttons.
    updateTitle();
}

void MainWindow::SetSafeButtonsEnabled(bool enabled) {
    for (int id : layout::SafeButtons) {
        if (QAction* action = toolbarAction(id))
            action->setEnabled(enabled);
    }
    updateSealAction();
    updateTitle();
}

void MainWindow::updateTitle() {
    const SafeState& state = session_.state;
    QString title = text(layout::WindowTitle);
    if (isSafeOpen(state)) {
        const std::string name = std::filesystem::path(state.safePath).filename().string();
        QString safe = QFile::decodeName(QByteArray::fromStdString(name));
        // "[*]" in a title is Qt's mark for unsaved changes; doubled it shows as itself.
        safe.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
        if (isSealed(state))
            safe += text(layout::SealedInTitle);
        title = safe + text(layout::TitleSeparator) + title;
    }
    if (title != windowTitle())
        setWindowTitle(title);
}

void MainWindow::updateSealAction() {
    if (sealAction_ != nullptr)
        sealAction_->setEnabled(isSafeOpen(session_.state) && !isSealed(session_.state));
    if (folderAction_ != nullptr)
        folderAction_->setEnabled(isSafeOpen(session_.state));
}

QAction* MainWindow::toolbarAction(int id) const {
    const auto found = toolbarActions_.find(id);
    return found == toolbarActions_.end() ? nullptr : found->second;
}

void MainWindow::endWindow() {
    ended_ = true;
    hide();
    QCoreApplication::quit();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (ended_) {
        event->accept();
        return;
    }
    if (isBusy_()) {
        event->ignore();
        return;
    }
    if (safeEndingHandler_)
        safeEndingHandler_();
    if (closeRequested(session_, CloseEntry::CloseBox)) {
        endWindow();
        event->accept();
    } else {
        event->ignore();
    }
}

void MainWindow::rememberFocusedRow() {
    session_.CurrentRow = entryList_->focusedRow();
}

void MainWindow::showRowMenu(const QPoint& globalPosition) {
    rememberFocusedRow();
    // A folder's row has the menu too: its Rename and Delete act on the folder.
    if ((session_.CurrentRow == -1 && entryList_->focusedFolder().empty()) || ended_ || isBusy_())
        return;
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("RowMenu"));
    for (const auto& item : layout::RowMenu) {
        QAction* action = menu.addAction(text(item.text));
        action->setData(item.id);
    }
    const QAction* chosen = menu.exec(globalPosition);
    if (chosen != nullptr)
        routeCommand(chosen->data().toInt());
}

QMenu* MainWindow::createPopupMenu() {
    // The toolbar is part of the window, not something to hide.
    return nullptr;
}

} // namespace quorvane
