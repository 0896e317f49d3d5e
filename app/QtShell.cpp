#include "app/QtShell.h"

#include "app/EntryListView.h"
#include "app/MainWindow.h"
#include "dialogs/Dialogs.h"
#include "entries/NameText.h"

#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <QTreeWidgetItem>

namespace quorvane {

namespace {

// Stored names are bytes; a name that is not valid UTF-8 still shows, with
// replacement characters where the bytes make no sense.
QString shown(const std::string& bytes) {
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

} // namespace

QtShell::QtShell() = default;
QtShell::~QtShell() = default;

bool QtShell::isBusy() const {
    return busyBox_.isBusy();
}

bool QtShell::isBusyBoxShown() const {
    return busyBox_.isShown();
}

QWidget* QtShell::owner() const {
    return window_;
}

void QtShell::clearBusyBoxForDialog() {
    if (busyBox_.isShown() && !busyBox_.isBusy())
        busyBox_.hide();
}

namespace {

// The box's own layout sizes it to its text; a row as wide as the caption
// keeps a window manager from cutting the caption.
void widenForCaption(QMessageBox& box) {
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(dialogs::captionWidth(box), 0, QSizePolicy::Minimum,
                                      QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
}

} // namespace

void QtShell::showMessage(const std::string& text, const std::string& caption, MessageIcon icon) {
    clearBusyBoxForDialog();
    QMessageBox box(icon == MessageIcon::Error ? QMessageBox::Critical : QMessageBox::Information,
                    shown(caption), shown(text), QMessageBox::Ok, owner());
    box.setDefaultButton(QMessageBox::Ok);
    widenForCaption(box);
    box.exec();
}

bool QtShell::askYesNo(const std::string& text, const std::string& caption) {
    clearBusyBoxForDialog();
    QMessageBox box(QMessageBox::Information, shown(caption), shown(text),
                    QMessageBox::Yes | QMessageBox::No, owner());
    box.setDefaultButton(QMessageBox::Yes);
    widenForCaption(box);
    return box.exec() == QMessageBox::Yes;
}

int QtShell::PasswordDialog(std::string& password) {
    clearBusyBoxForDialog();
    return dialogs::runPasswordDialog(owner(), password);
}

void QtShell::RenameDialog(std::string& newEntryName) {
    clearBusyBoxForDialog();
    dialogs::runRenameDialog(owner(), newEntryName);
}

bool QtShell::pickSafeToOpen(std::string& path) {
    clearBusyBoxForDialog();
    return dialogs::pickSafeToOpen(owner(), path);
}

bool QtShell::pickNewSafe(std::string& path) {
    clearBusyBoxForDialog();
    return dialogs::pickNewSafe(owner(), path);
}

bool QtShell::pickFileToAdd(std::string& path) {
    clearBusyBoxForDialog();
    return dialogs::pickFileToAdd(owner(), path);
}

bool QtShell::ChooseFolder(std::string& path, const std::string& title) {
    clearBusyBoxForDialog();
    return dialogs::ChooseFolder(owner(), path, title);
}

void QtShell::ShowProgress(const std::string& text) {
    busyBox_.show(text);
}

void QtShell::HideProgress() {
    busyBox_.hide();
}

void QtShell::runBusy(const std::function<void()>& step) {
    busyBox_.run(step);
}

void QtShell::deleteAllRows() {
    if (window_ != nullptr)
        window_->entryList()->clear();
}

void QtShell::insertRow(int row, const std::string& column0) {
    if (window_ == nullptr)
        return;
    EntryListView* list = window_->entryList();
    auto* item = new QTreeWidgetItem(QStringList{shown(column0)});
    for (int column = 0; column < list->columnCount(); ++column)
        item->setTextAlignment(column, Qt::AlignLeft | Qt::AlignVCenter);
    const int count = list->topLevelItemCount();
    const int at = row < 0 || row > count ? count : row;
    list->insertTopLevelItem(at, item);
    list->widenColumnToFit(at, 0);
}

void QtShell::setRowText(int row, int column, const std::string& text) {
    if (window_ == nullptr)
        return;
    EntryListView* list = window_->entryList();
    QTreeWidgetItem* item = list->topLevelItem(row);
    if (item == nullptr || column < 0 || column >= list->columnCount())
        return;
    // A stored name from a safe made anywhere may hold a line break or a
    // mark that turns the text around: shown escaped, never acted on.
    item->setText(column, shown(withActingCharactersEscaped(text)));
    // A long name or size is shown whole rather than cut off.
    list->widenColumnToFit(row, column);
}

int QtShell::focusedRow() {
    return window_ == nullptr ? -1 : window_->entryList()->focusedRow();
}

int QtShell::nextSelectedRow(int after) {
    return window_ == nullptr ? -1 : window_->entryList()->nextSelectedRow(after);
}

int QtShell::selectedCount() {
    return window_ == nullptr ? 0 : window_->entryList()->selectedCount();
}

void QtShell::SetSafeButtonsEnabled(bool enabled) {
    if (window_ != nullptr)
        window_->SetSafeButtonsEnabled(enabled);
}

void QtShell::destroyMainWindow() {
    // The close sequence leaves its busy box up; it goes with the window.
    if (!busyBox_.isBusy())
        busyBox_.hide();
    if (window_ != nullptr)
        window_->endWindow();
}

} // namespace quorvane
