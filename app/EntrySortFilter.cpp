#include "app/EntrySortFilter.h"

#include "app/EntryTableModel.h"

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

// The filter shows the rows whose name holds the text, whatever the case.
EntrySortFilter::EntrySortFilter(QObject* parent) : QSortFilterProxyModel(parent) {
    setFilterKeyColumn(EntryTableModel::NameColumn);
    setFilterCaseSensitivity(Qt::CaseInsensitive);
    setDynamicSortFilter(true);
}

// Rows that sort alike keep the order of their entries.
bool EntrySortFilter::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    if (left.column() == EntryTableModel::NameColumn) {
        const QString mine = left.data().toString();
        const QString theirs = right.data().toString();
        if (const int order = nameOrder().compare(mine, theirs); order != 0)
            return order < 0;
        if (const int order = mine.compare(theirs); order != 0)
            return order < 0;
    } else {
        const qlonglong mine = left.data(EntryTableModel::SortKeyRole).toLongLong();
        const qlonglong theirs = right.data(EntryTableModel::SortKeyRole).toLongLong();
        if (mine != theirs)
            return mine < theirs;
    }
    return left.row() < right.row();
}

} // namespace quorvane
