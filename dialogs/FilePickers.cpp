#include "dialogs/DialogTexts.h"
#include "dialogs/Dialogs.h"
#include "dialogs/FilterList.h"

#include <QByteArray>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

namespace quorvane::dialogs {

namespace {

QString localPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string localBytes(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// What all three pickers share: the filters in their order with the first
// selected, and the pattern part of each entry kept out of sight so that the
// shown texts are exactly the program's.
QFileDialog::Options pickerOptions() {
    return QFileDialog::HideNameFilterDetails;
}

// The save kind, filled in as New Safe and Add File need it. A typed name
// without a suffix gets ".cx"; overwriting is confirmed only where asked.
bool runSaveKindPicker(QWidget* owner, const QStringList& filters, bool confirmOverwrite,
                       std::string& path) {
    QFileDialog picker(owner);
    picker.setOptions(pickerOptions());
    picker.setOption(QFileDialog::DontConfirmOverwrite, !confirmOverwrite);
    picker.setAcceptMode(QFileDialog::AcceptSave);
    picker.setFileMode(QFileDialog::AnyFile);
    picker.setNameFilters(filters);
    picker.selectNameFilter(filters.front());
    picker.setDefaultSuffix(QString::fromUtf8(texts::SafeSuffix));
    if (picker.exec() != QDialog::Accepted)
        return false;
    const QStringList chosen = picker.selectedFiles();
    if (chosen.isEmpty() || chosen.front().isEmpty())
        return false;
    path = localBytes(chosen.front());
    return true;
}

} // namespace

bool pickSafeToOpen(QWidget* owner, std::string& path) {
    const QStringList filters = safeFilters();
    QString selected = filters.front();
    const QString chosen = QFileDialog::getOpenFileName(owner, QString(), localPath(path),
                                                        filters.join(QStringLiteral(";;")),
                                                        &selected, pickerOptions());
    if (chosen.isEmpty())
        return false;
    path = localBytes(chosen);
    return true;
}

// New Safe writes the chosen file, so replacing an existing one is asked.
bool pickNewSafe(QWidget* owner, std::string& path) {
    return runSaveKindPicker(owner, safeFilters(), true, path);
}

// Add File only reads the chosen file: there is nothing to confirm.
bool pickFileToAdd(QWidget* owner, std::string& path) {
    return runSaveKindPicker(owner, allFilesFilter(), false, path);
}

bool ChooseFolder(QWidget* owner, std::string& path, const std::string& title) {
    const QString chosen = QFileDialog::getExistingDirectory(owner, QString::fromStdString(title),
                                                             QString(), QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty() || !QFileInfo(chosen).isDir())
        return false;
    path = localBytes(chosen);
    return true;
}

} // namespace quorvane::dialogs
