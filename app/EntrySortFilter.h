#pragma once

// The order and the name filter of the list, between the model and the view.

#include <QSortFilterProxyModel>

namespace quorvane {

class EntrySortFilter : public QSortFilterProxyModel {
    Q_OBJECT

  public:
    explicit EntrySortFilter(QObject* parent = nullptr);

  protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;
};

} // namespace quorvane
