#include "app/WindowMemory.h"

#include "app/EntryListView.h"
#include "app/EntryTreeModel.h"
#include "app/MainWindow.h"
#include "watch/CloseSettings.h"

#include <QFile>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QSettings>
#include <QStringList>

#include <algorithm>
#include <memory>

namespace quorvane {

namespace {

constexpr QLatin1StringView SizeKey("Window/Size");
constexpr QLatin1StringView WidthsKey("Window/ColumnWidths");
// Below this a window is no use; a smaller size read back is not taken.
constexpr int SmallestSide = 200;
// Wider than any screen: a width read back beyond it is a damaged file.
constexpr int WidestColumn = 5000;

// The same INI file as the close settings, which the tool reads too.
std::unique_ptr<QSettings> settingsFile() {
    const std::filesystem::path path = settingsFilePath();
    if (path.empty())
        return nullptr;
    return std::make_unique<QSettings>(QFile::decodeName(path.c_str()), QSettings::IniFormat);
}

// The name column takes whatever room the others leave, so it is not kept.
bool isKeptColumn(int column) {
    return column != EntryTreeModel::NameColumn;
}

} // namespace

void restoreWindowShape(MainWindow& window) {
    const auto file = settingsFile();
    if (!file)
        return;
    QSize size = file->value(SizeKey).toSize();
    if (size.isValid() && size.width() >= SmallestSide && size.height() >= SmallestSide) {
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            size = size.boundedTo(screen->availableSize());
        window.resize(size);
    }
    const QStringList widths = file->value(WidthsKey).toString().split(QLatin1Char(','));
    EntryListView* list = window.entryList();
    const int columns = std::min<int>(static_cast<int>(widths.size()), list->header()->count());
    for (int column = 0; column < columns; ++column) {
        bool read = false;
        const int width = widths[column].trimmed().toInt(&read);
        if (read && width > 0 && width <= WidestColumn && isKeptColumn(column))
            list->setColumnWidth(column, width);
    }
}

void rememberWindowShape(const MainWindow& window) {
    const auto file = settingsFile();
    if (!file)
        return;
    file->setValue(SizeKey, window.size());
    QStringList widths;
    const EntryListView* list = window.entryList();
    for (int column = 0; column < list->header()->count(); ++column)
        widths << QString::number(list->columnWidth(column));
    file->setValue(WidthsKey, widths.join(QLatin1Char(',')));
    file->sync();
}

} // namespace quorvane
