#pragma once

// The stored files as a Qt model: one row per entry, in entry order, three
// columns, filled in one go. The view shows it through EntrySortFilter, which
// sorts and filters without touching it, so that row i here is always entry i.
// A tree model can take its place when entries carry folders: the view and
// the proxy ask only the model's own interface.

#include "ui/Shell.h"

#include <QAbstractTableModel>
#include <QString>

#include <vector>

namespace quorvane {

class EntryTableModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    // The entry a row shows (an int), and what a column sorts by (a qlonglong).
    static constexpr int EntryRole = Qt::UserRole;
    static constexpr int SortKeyRole = Qt::UserRole + 1;
    static constexpr int NameColumn = 1;
    static constexpr int SizeColumn = 2;

    explicit EntryTableModel(QObject* parent = nullptr);

    // All rows anew: one reset, however many rows.
    void setRows(const std::vector<EntryRow>& rows);
    void appendRow(const EntryRow& row);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

  private:
    struct Row {
        QString cells[3];
        qlonglong keys[3];
    };
    static Row rowOf(const EntryRow& row);

    std::vector<Row> rows_;
};

} // namespace quorvane
