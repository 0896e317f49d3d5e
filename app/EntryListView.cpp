#include "app/EntryListView.h"

#include "app/WindowLayout.h"

#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QHeaderView>
#include <QMouseEvent>

namespace quorvane {

EntryListView::EntryListView(QWidget* parent) : QTreeWidget(parent) {
    setObjectName(QStringLiteral("EntryList"));
    setAccessibleName(QStringLiteral("Stored files"));
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setDragEnabled(false);
    // Drops belong to the window, which adds the dropped files to the safe.
    setAcceptDrops(false);
    viewport()->setAcceptDrops(false);

    const auto& columns = layout::EntryListColumns;
    setColumnCount(static_cast<int>(columns.size()));
    QStringList headers;
    for (const auto& column : columns)
        headers << QString::fromUtf8(column.header);
    setHeaderLabels(headers);
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // The widths are the list's own; the last column is not stretched over them.
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    for (int index = 0; index < static_cast<int>(columns.size()); ++index)
        setColumnWidth(index, columns[static_cast<std::size_t>(index)].width);
}

int EntryListView::focusedRow() const {
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() : -1;
}

int EntryListView::nextSelectedRow(int after) const {
    int next = -1;
    for (const QModelIndex& index : selectionModel()->selectedRows()) {
        const int row = index.row();
        if (row > after && (next == -1 || row < next))
            next = row;
    }
    return next;
}

int EntryListView::selectedCount() const {
    return static_cast<int>(selectionModel()->selectedRows().size());
}

void EntryListView::widenColumnToFit(int row, int column) {
    const QModelIndex index = model()->index(row, column);
    if (!index.isValid())
        return;
    const int needed = sizeHintForIndex(index).width();
    if (needed > columnWidth(column))
        setColumnWidth(column, needed);
}

void EntryListView::focusInEvent(QFocusEvent* event) {
    const bool hadFocusedRow = currentIndex().isValid();
    QTreeWidget::focusInEvent(event);
    // Qt makes the first row the current one when the list takes the keyboard
    // focus. Here a row is focused only when the user picks one, so that Rename,
    // Delete and the row menu never act on a row nobody chose.
    if (!hadFocusedRow && currentIndex().isValid())
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
}

void EntryListView::mouseReleaseEvent(QMouseEvent* event) {
    QTreeWidget::mouseReleaseEvent(event);
    emit clickedAnywhere();
}

void EntryListView::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeWidget::mouseDoubleClickEvent(event);
    emit clickedAnywhere();
}

void EntryListView::contextMenuEvent(QContextMenuEvent* event) {
    QPoint position = event->globalPos();
    if (event->reason() == QContextMenuEvent::Keyboard) {
        // From the keyboard there is no cursor to follow: open the menu on
        // the focused row so that it appears where the user is looking.
        const QRect rowRect = visualRect(currentIndex());
        if (rowRect.isValid())
            position = viewport()->mapToGlobal(rowRect.bottomLeft());
    }
    event->accept();
    emit rowMenuRequested(position);
}

} // namespace quorvane
