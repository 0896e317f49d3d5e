#include "app/EntrySortFilter.h"

#include "app/EntryTreeModel.h"

#include <QCollator>

namespace quorvane {

namespace {

// Names sort as a file manager sorts them: without regard to case, accented
// letters beside their plain ones, and "IMG_2" before "IMG_10".
const QCollator& nameOrder() {
    static const QCollator collator = [] {
        QCollator made;
        made.setCaseSensitivity(Qt::CaseInsensitive);
        made.setNumericMode(true);
        return made;
    }();
    return collator;
}

} // namespace

// The filter shows the rows whose name holds the text, whatever the case, in
// every folder, with the folders that lead to them.
EntrySortFilter::EntrySortFilter(QObject* parent) : QSortFilterProxyModel(parent) {
    setRecursiveFilteringEnabled(true);
    setDynamicSortFilter(true);
}

void EntrySortFilter::setNameFilter(const QString& text) {
    nameFilter_ = text;
    invalidateFilter();
}

// A plain search for the text: a regular expression per row of ten thousand
// costs more than a keystroke may take.
bool EntrySortFilter::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
    if (nameFilter_.isEmpty())
        return true;
    const auto* entries = static_cast<const EntryTreeModel*>(sourceModel());
    return entries->nameAt(entries->index(sourceRow, 0, sourceParent))
        .contains(nameFilter_, Qt::CaseInsensitive);
}

// Folders come before files, as in a file manager; rows that sort alike keep
// the order of their entries.
bool EntrySortFilter::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    const bool leftFolder = left.data(EntryTreeModel::FolderRole).toBool();
    if (leftFolder != right.data(EntryTreeModel::FolderRole).toBool()) {
        // Whichever way the column is sorted, folders stay on top.
        return sortOrder() == Qt::AscendingOrder ? leftFolder : !leftFolder;
    }
    if (left.column() == EntryTreeModel::NameColumn) {
        const QString mine = left.data().toString();
        const QString theirs = right.data().toString();
        if (const int order = nameOrder().compare(mine, theirs); order != 0)
            return order < 0;
        if (const int order = mine.compare(theirs); order != 0)
            return order < 0;
    } else {
        const qlonglong mine = left.data(EntryTreeModel::SortKeyRole).toLongLong();
        const qlonglong theirs = right.data(EntryTreeModel::SortKeyRole).toLongLong();
        if (mine != theirs)
            return mine < theirs;
    }
    return left.row() < right.row();
}

} // namespace quorvane
