#include "app/EntryTableModel.h"

#include "app/WindowLayout.h"

namespace quorvane {

namespace {

// Stored names are bytes; a name that is not valid UTF-8 still shows, with
// replacement characters where the bytes make no sense.
QString shown(const std::string& bytes) {
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// Numbers and sizes sort as numbers: "10" after "9", "2 Bytes" before "10 Bytes".
qlonglong sortKeyOf(int column, const QString& text) {
    const QString number =
        column == EntryTableModel::SizeColumn ? text.section(QLatin1Char(' '), 0, 0) : text;
    return number.toLongLong();
}

} // namespace

EntryTableModel::EntryTableModel(QObject* parent) : QAbstractTableModel(parent) {}

EntryTableModel::Row EntryTableModel::rowOf(const EntryRow& row) {
    Row made{{shown(row.number), shown(row.name), shown(row.size)}, {0, 0, 0}};
    made.keys[0] = sortKeyOf(0, made.cells[0]);
    made.keys[SizeColumn] = sortKeyOf(SizeColumn, made.cells[SizeColumn]);
    return made;
}

void EntryTableModel::setRows(const std::vector<EntryRow>& rows) {
    beginResetModel();
    rows_.clear();
    rows_.reserve(rows.size());
    for (const EntryRow& row : rows)
        rows_.push_back(rowOf(row));
    endResetModel();
}

void EntryTableModel::appendRow(const EntryRow& row) {
    const int at = rowCount();
    beginInsertRows(QModelIndex(), at, at);
    rows_.push_back(rowOf(row));
    endInsertRows();
}

int EntryTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int EntryTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(layout::EntryListColumns.size());
}

QVariant EntryTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount())
        return {};
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
    const auto column = static_cast<std::size_t>(index.column());
    switch (role) {
    case Qt::DisplayRole:
        return row.cells[column];
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    case EntryRole:
        return index.row();
    case SortKeyRole:
        return row.keys[column];
    default:
        return {};
    }
}

QVariant EntryTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= columnCount())
        return {};
    return QString::fromUtf8(layout::EntryListColumns[static_cast<std::size_t>(section)].header);
}

// Nothing in the list is edited in place; rows can be dragged out.
Qt::ItemFlags EntryTableModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled |
                                 Qt::ItemNeverHasChildren
                           : Qt::NoItemFlags;
}

} // namespace quorvane
