#include "app/QtShell.h"

#include "app/EntryListView.h"
#include "app/MainWindow.h"
#include "dialogs/Dialogs.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>

#include <cstdio>

namespace quorvane {

namespace {

// Stored names are bytes; a name that is not valid UTF-8 still shows, with
// replacement characters where the bytes make no sense.
QString shown(const std::string& bytes) {
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

} // namespace

QtShell::QtShell() : Shell(*this, *this, *this, *this) {}
QtShell::~QtShell() = default;

bool QtShell::isBusy() const {
    return busyBox_.isBusy();
}

bool QtShell::isBusyBoxShown() const {
    return busyBox_.isShown();
}

void QtShell::waitForLongStep() {
    busyBox_.waitForStep();
}

MainWindow* QtShell::reachableWindow() const {
    return hasDisplay() ? window_ : nullptr;
}

QWidget* QtShell::owner() const {
    return window_;
}

void QtShell::clearBusyBoxForDialog() {
    if (busyBox_.isShown() && !busyBox_.isBusy())
        busyBox_.hide();
}

namespace {

// A box that nobody sees still leaves its text where a log of the session
// keeps it: a failed save at the end must not go unsaid.
void reportUnseen(const std::string& text) {
    std::fprintf(stderr, "quorvane: %s\n", text.c_str());
}

} // namespace

namespace {

// The box's own layout sizes it to its text; a row as wide as the caption
// keeps a window manager from cutting the caption.
void widenForCaption(QMessageBox& box) {
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(dialogs::captionWidth(box), 0, QSizePolicy::Minimum,
                                      QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
}

// A report that lists many files (one line each after its first, which sums
// them up) would make a box taller than the screen, its OK button out of
// reach: the list goes into the box's scrollable details instead.
constexpr qsizetype MostLinesShown = 12;

void keepOnScreen(QMessageBox& box) {
    const QString text = box.text();
    if (text.count(QLatin1Char('\n')) < MostLinesShown)
        return;
    const qsizetype firstBreak = text.indexOf(QLatin1Char('\n'));
    box.setText(text.left(firstBreak));
    box.setDetailedText(text.mid(firstBreak + 1));
}

} // namespace

void QtShell::showMessage(const std::string& text, const std::string& caption, MessageIcon icon) {
    if (answersItself()) {
        reportUnseen(text);
        return;
    }
    clearBusyBoxForDialog();
    const SessionLock::Parked parked(sessionLock_);
    QMessageBox box(icon == MessageIcon::Error ? QMessageBox::Critical : QMessageBox::Information,
                    shown(caption), shown(text), QMessageBox::Ok, owner());
    keepOnScreen(box);
    box.setDefaultButton(QMessageBox::Ok);
    widenForCaption(box);
    box.exec();
}

// Every question the operations ask is one where No keeps data: an original
// stays, an unsaved safe stays open, a plain safe stays plain. So No is what
// Enter answers, and the box warns, as one that may lose data should.
bool QtShell::askYesNo(const std::string& text, const std::string& caption) {
    if (answersItself())
        return false;
    clearBusyBoxForDialog();
    const SessionLock::Parked parked(sessionLock_);
    QMessageBox box(QMessageBox::Warning, shown(caption), shown(text),
                    QMessageBox::Yes | QMessageBox::No, owner());
    box.setDefaultButton(QMessageBox::No);
    widenForCaption(box);
    return box.exec() == QMessageBox::Yes;
}

namespace {

constexpr const char* ExistingFileCaption = "File Exists";
constexpr const char* ExistingFileText =
    "A different file of this name is already in the folder:\n%1\n\nReplace it with the "
    "stored file, skip the stored file, or keep both (the stored file under a new name)?";
constexpr const char* ForAllText = "Do this for all";

} // namespace

// Keep Both destroys nothing, so it is the default, and what an unseen or
// closed box answers.
ExistingFileAnswer QtShell::askExistingFile(const std::string& path) {
    if (answersItself())
        return {};
    clearBusyBoxForDialog();
    const SessionLock::Parked parked(sessionLock_);
    QMessageBox box(QMessageBox::Warning, QString::fromUtf8(ExistingFileCaption),
                    QString::fromUtf8(ExistingFileText).arg(shown(path)), QMessageBox::NoButton,
                    owner());
    QPushButton* replace = box.addButton(QStringLiteral("&Replace"), QMessageBox::DestructiveRole);
    QPushButton* skip = box.addButton(QStringLiteral("&Skip"), QMessageBox::RejectRole);
    QPushButton* keepBoth = box.addButton(QStringLiteral("&Keep Both"), QMessageBox::AcceptRole);
    box.setDefaultButton(keepBoth);
    box.setEscapeButton(keepBoth);
    box.setCheckBox(new QCheckBox(QString::fromUtf8(ForAllText), &box));
    widenForCaption(box);
    box.exec();
    ExistingFileAnswer answer{ExistingFileChoice::KeepBoth, box.checkBox()->isChecked()};
    if (box.clickedButton() == replace)
        answer.choice = ExistingFileChoice::Replace;
    else if (box.clickedButton() == skip)
        answer.choice = ExistingFileChoice::Skip;
    return answer;
}

std::optional<std::string> QtShell::askPassword() {
    if (answersItself())
        return std::nullopt;
    clearBusyBoxForDialog();
    const SessionLock::Parked parked(sessionLock_);
    return dialogs::runPasswordDialog(owner());
}

std::optional<std::string> QtShell::askPasswordConfirmation() {
    if (answersItself())
        return std::nullopt;
    clearBusyBoxForDialog();
    const SessionLock::Parked parked(sessionLock_);
    return dialogs::runConfirmPasswordDialog(owner());
}

std::optional<std::string> QtShell::askNewEntryName() {
    if (answersItself())
        return std::nullopt;
    clearBusyBoxForDialog();
    const SessionLock::Parked parked(sessionLock_);
    return dialogs::runRenameDialog(owner());
}

bool QtShell::pickSafeToOpen(std::string& path) {
    if (answersItself())
        return false;
    clearBusyBoxForDialog();
    const SessionLock::Parked parked(sessionLock_);
    return dialogs::pickSafeToOpen(owner(), path);
}

bool QtShell::pickNewSafe(std::string& path) {
    if (answersItself())
        return false;
    clearBusyBoxForDialog();
    const SessionLock::Parked parked(sessionLock_);
    return dialogs::pickNewSafe(owner(), path);
}

bool QtShell::pickFileToAdd(std::string& path) {
    if (answersItself())
        return false;
    clearBusyBoxForDialog();
    const SessionLock::Parked parked(sessionLock_);
    return dialogs::pickFileToAdd(owner(), path);
}

bool QtShell::ChooseFolder(std::string& path, const std::string& title) {
    if (answersItself())
        return false;
    clearBusyBoxForDialog();
    const SessionLock::Parked parked(sessionLock_);
    return dialogs::ChooseFolder(owner(), path, title);
}

void QtShell::ShowProgress(const std::string& text) {
    if (!hasDisplay())
        return;
    // Within a run of files the box stays and only its text changes: a box
    // made anew for each of a thousand small files would only flicker.
    if (batch_.active() && busyBox_.isShown())
        busyBox_.setText(text);
    else
        busyBox_.show(text);
}

// Within a run of files the box stays up between files; a box that asks or
// tells takes it down first all the same (clearBusyBoxForDialog).
void QtShell::HideProgress() {
    if (hasDisplay() && !batch_.active())
        busyBox_.hide();
}

// Within a run of files, many short steps follow each other with no event
// loop between them: the windows are given a moment to repaint now and then.
void QtShell::runShortStep(const std::function<void()>& step) {
    step();
    if (hasDisplay() && batch_.active())
        busyBox_.paintIfDue();
}

ProgressCallback QtShell::byteProgress() {
    if (!batch_.active())
        return {};
    return [this](std::uint64_t done, std::uint64_t /*total*/) { batch_.fileProgress(done); };
}

void QtShell::startAddBatch(std::uint64_t count, std::uint64_t totalBytes) {
    batch_.start(count, totalBytes, ProgressClock::now());
    busyBox_.setDetailSource([this] { return batch_.figures(ProgressClock::now()); });
}

void QtShell::startAddBatchFile(std::uint64_t number, std::uint64_t size) {
    if (batch_.active())
        batch_.startFile(number, size);
}

void QtShell::endAddBatch() {
    if (!batch_.active())
        return;
    batch_.end();
    busyBox_.setDetailSource({});
    if (hasDisplay())
        busyBox_.hide();
}

void QtShell::runBusy(const std::function<void()>& step) {
    if (hasDisplay())
        busyBox_.run(step);
    else
        step();
}

// A long name or size is shown whole rather than cut off. The rows keep the
// stored names: the list escapes what it shows, and a folder's row hands the
// operations the stored path.
void QtShell::showRows(std::vector<EntryRow> rows) {
    if (MainWindow* window = reachableWindow())
        window->entryList()->showEntries(rows);
}

void QtShell::appendRow(EntryRow row) {
    if (MainWindow* window = reachableWindow())
        window->entryList()->appendEntry(row);
}

int QtShell::focusedRow() {
    MainWindow* window = reachableWindow();
    return window == nullptr ? -1 : window->entryList()->focusedRow();
}

int QtShell::nextSelectedRow(int after) {
    MainWindow* window = reachableWindow();
    return window == nullptr ? -1 : window->entryList()->nextSelectedRow(after);
}

int QtShell::selectedCount() {
    MainWindow* window = reachableWindow();
    return window == nullptr ? 0 : window->entryList()->selectedCount();
}

std::vector<std::string> QtShell::selectedFolders() {
    MainWindow* window = reachableWindow();
    return window == nullptr ? std::vector<std::string>{} : window->entryList()->selectedFolders();
}

void QtShell::SetSafeButtonsEnabled(bool enabled) {
    if (MainWindow* window = reachableWindow())
        window->SetSafeButtonsEnabled(enabled);
}

void QtShell::destroyMainWindow() {
    if (!hasDisplay())
        return;
    // The close sequence leaves its busy box up; it goes with the window.
    if (!busyBox_.isBusy())
        busyBox_.hide();
    if (window_ != nullptr)
        window_->endWindow();
}

} // namespace quorvane
