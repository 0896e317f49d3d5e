#include "dialogs/DialogTexts.h"
#include "dialogs/Dialogs.h"
#include "dialogs/FilterList.h"

#include <QByteArray>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>
#include <QVariantMap>

namespace quorvane::dialogs {

namespace {

// Qt's file dialog writes the folders it visited (history, lastVisited) into
// the settings that every Qt program of the user shares
// (~/.config/QtProject.conf) when it closes, where they outlive the program;
// a folder's name can tell what a safe holds. Each picker therefore leaves
// the dialog's settings as it found them: another program's entries stay,
// ours go.
class NoFolderHistory {
  public:
    NoFolderHistory() {
        QSettings settings(QSettings::UserScope, QStringLiteral("QtProject"));
        settings.beginGroup(group());
        for (const QString& key : settings.childKeys())
            found_.insert(key, settings.value(key));
    }
    ~NoFolderHistory() {
        QSettings settings(QSettings::UserScope, QStringLiteral("QtProject"));
        settings.remove(group());
        settings.beginGroup(group());
        for (auto entry = found_.cbegin(); entry != found_.cend(); ++entry)
            settings.setValue(entry.key(), entry.value());
        settings.endGroup();
        settings.sync();
    }
    NoFolderHistory(const NoFolderHistory&) = delete;
    NoFolderHistory& operator=(const NoFolderHistory&) = delete;

  private:
    static QString group() { return QStringLiteral("FileDialog"); }

    QVariantMap found_;
};

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

// The save kind, as New Safe and Add File use it: the filters with the first
// selected, and overwriting confirmed only where asked.
QString runSaveKindPicker(QWidget* owner, const QStringList& filters, bool confirmOverwrite,
                          const QString& defaultSuffix) {
    const NoFolderHistory noHistory; // made first, so that it goes after the dialog
    QFileDialog picker(owner);
    picker.setOptions(pickerOptions());
    picker.setOption(QFileDialog::DontConfirmOverwrite, !confirmOverwrite);
    picker.setAcceptMode(QFileDialog::AcceptSave);
    picker.setFileMode(QFileDialog::AnyFile);
    picker.setNameFilters(filters);
    picker.selectNameFilter(filters.front());
    picker.setDefaultSuffix(defaultSuffix);
    if (picker.exec() != QDialog::Accepted)
        return {};
    const QStringList chosen = picker.selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.front();
}

QString safeSuffix() {
    return QString::fromUtf8(texts::SafeSuffix);
}

// A name typed without a suffix gets ".cx", but a file that exists under the
// very name chosen is that file: appending the suffix to it would add another
// file, or none.
QString withSuffixUnlessExisting(const QString& chosen) {
    const QFileInfo info(chosen);
    if (chosen.isEmpty() || info.exists() || info.fileName().contains(QLatin1Char('.')))
        return chosen;
    return chosen + QLatin1Char('.') + safeSuffix();
}

bool handBack(const QString& chosen, std::string& path) {
    if (chosen.isEmpty())
        return false;
    path = localBytes(chosen);
    return true;
}

} // namespace

bool pickSafeToOpen(QWidget* owner, std::string& path) {
    const QStringList filters = safeFilters();
    QString selected = filters.front();
    const NoFolderHistory noHistory;
    return handBack(QFileDialog::getOpenFileName(owner, QString(), localPath(path),
                                                 filters.join(QStringLiteral(";;")), &selected,
                                                 pickerOptions()),
                    path);
}

// New Safe writes the chosen file, so replacing an existing one is asked.
bool pickNewSafe(QWidget* owner, std::string& path) {
    return handBack(runSaveKindPicker(owner, safeFilters(), true, safeSuffix()), path);
}

// Add File only reads the chosen file: there is nothing to confirm. The
// suffix is added here rather than by the picker, which would add it to an
// existing file's name too.
bool pickFileToAdd(QWidget* owner, std::string& path) {
    return handBack(
        withSuffixUnlessExisting(runSaveKindPicker(owner, allFilesFilter(), false, QString())),
        path);
}

bool ChooseFolder(QWidget* owner, std::string& path, const std::string& title) {
    const NoFolderHistory noHistory;
    const QString chosen = QFileDialog::getExistingDirectory(owner, QString::fromStdString(title),
                                                             QString(), QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty() || !QFileInfo(chosen).isDir())
        return false;
    path = localBytes(chosen);
    return true;
}

} // namespace quorvane::dialogs
