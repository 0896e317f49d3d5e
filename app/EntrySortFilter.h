#pragma once

// The order and the name filter of the list, between the model and the view.

#include <QSortFilterProxyModel>

namespace quorvane {

class EntrySortFilter : public QSortFilterProxyModel {
    Q_OBJECT

  public:
    explicit EntrySortFilter(QObject* parent = nullptr);

    // Shows only the rows whose name holds text, whatever the case, with the
    // folders that lead to them; the empty text shows every row.
    void setNameFilter(const QString& text);

  protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

  private:
    QString nameFilter_;
};

} // namespace quorvane
