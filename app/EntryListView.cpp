#include "app/EntryListView.h"

#include "app/EntrySortFilter.h"
#include "app/EntryTableModel.h"
#include "app/WindowLayout.h"

#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QHeaderView>
#include <QMouseEvent>
#include <QResizeEvent>

#include <algorithm>

namespace quorvane {

namespace {

constexpr int NameColumn = EntryTableModel::NameColumn;
constexpr int SizeColumn = EntryTableModel::SizeColumn;

} // namespace

EntryListView::EntryListView(QWidget* parent)
    : QTreeView(parent), entries_(new EntryTableModel(this)), order_(new EntrySortFilter(this)) {
    setObjectName(QStringLiteral("EntryList"));
    setAccessibleName(QStringLiteral("Stored files"));
    order_->setSourceModel(entries_);
    setModel(order_);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Rows can be dragged out (the window decides what they carry); drops
    // belong to the window, which adds the dropped files to the safe.
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    setAcceptDrops(false);
    viewport()->setAcceptDrops(false);

    const auto& columns = layout::EntryListColumns;
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // The widths are the list's own; the last column is not stretched over them.
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    for (int index = 0; index < static_cast<int>(columns.size()); ++index)
        setColumnWidth(index, columns[static_cast<std::size_t>(index)].width);
    nameWidthNeeded_ = columns[NameColumn].width;

    // A click on a header sorts by that column, a second one the other way
    // round. Until then no column is sorted on: the rows stand in the order
    // of the entries.
    header()->setSortIndicator(-1, Qt::AscendingOrder);
    setSortingEnabled(true);

    const auto forgetSelection = [this] { selectedEntries_.reset(); };
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, forgetSelection);
    connect(order_, &QAbstractItemModel::rowsInserted, this, forgetSelection);
    connect(order_, &QAbstractItemModel::rowsRemoved, this, forgetSelection);
    connect(order_, &QAbstractItemModel::modelReset, this, forgetSelection);
    connect(order_, &QAbstractItemModel::layoutChanged, this, forgetSelection);
}

EntryListView::~EntryListView() = default;

void EntryListView::showEntries(const std::vector<EntryRow>& rows) {
    entries_->setRows(rows);
    widenColumnsFor(0);
}

void EntryListView::appendEntry(const EntryRow& row) {
    entries_->appendRow(row);
    widenColumnsFor(entryCount() - 1);
}

int EntryListView::entryCount() const {
    return entries_->rowCount();
}

int EntryListView::shownCount() const {
    return order_->rowCount();
}

int EntryListView::entryAt(int position) const {
    const QModelIndex index = order_->index(position, 0);
    return index.isValid() ? order_->mapToSource(index).row() : -1;
}

QModelIndex EntryListView::indexOfEntry(int entry, int column) const {
    return order_->mapFromSource(entries_->index(entry, column));
}

QString EntryListView::entryText(int entry, int column) const {
    return entries_->index(entry, column).data().toString();
}

void EntryListView::setNameFilter(const QString& text) {
    if (text == filter_)
        return;
    filter_ = text;
    // A command must never act on a row that the user cannot see; and a row
    // that stays keeps the focus it had, rather than the one Qt would move to
    // a neighbour of a row the filter takes away.
    const int focused = focusedRow();
    order_->setFilterFixedString(text);
    const QModelIndex stays = indexOfEntry(focused);
    selectionModel()->setCurrentIndex(stays, QItemSelectionModel::NoUpdate);
    selectedEntries_.reset();
}

int EntryListView::focusedRow() const {
    const QModelIndex current = currentIndex();
    return current.isValid() ? order_->mapToSource(current).row() : -1;
}

void EntryListView::focusEntry(int entry) {
    selectionModel()->setCurrentIndex(indexOfEntry(entry), QItemSelectionModel::NoUpdate);
}

void EntryListView::selectEntry(int entry) {
    const QModelIndex index = indexOfEntry(entry);
    if (index.isValid())
        selectionModel()->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

const std::vector<int>& EntryListView::selectedEntries() const {
    if (!selectedEntries_) {
        std::vector<int> entries;
        for (const QModelIndex& index : selectionModel()->selectedRows())
            entries.push_back(order_->mapToSource(index).row());
        std::sort(entries.begin(), entries.end());
        selectedEntries_ = std::move(entries);
    }
    return *selectedEntries_;
}

int EntryListView::nextSelectedRow(int after) const {
    const std::vector<int>& entries = selectedEntries();
    const auto next = std::upper_bound(entries.begin(), entries.end(), after);
    return next == entries.end() ? -1 : *next;
}

int EntryListView::selectedCount() const {
    return static_cast<int>(selectedEntries().size());
}

void EntryListView::widenColumnsFor(int first) {
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    int needed[3] = {0, 0, 0};
    for (int entry = std::max(first, 0); entry < entryCount(); ++entry)
        for (int column = 0; column < 3; ++column)
            needed[column] =
                std::max(needed[column],
                         itemDelegate()->sizeHint(option, entries_->index(entry, column)).width());
    nameWidthNeeded_ = std::max(nameWidthNeeded_, needed[NameColumn]);
    for (int column : {0, SizeColumn})
        if (needed[column] > columnWidth(column))
            setColumnWidth(column, needed[column]);
    fitNameColumn();
}

void EntryListView::fitNameColumn() {
    const int room = viewport()->width() - columnWidth(0) - columnWidth(SizeColumn);
    const int width = std::max(nameWidthNeeded_, room);
    if (width != columnWidth(NameColumn))
        setColumnWidth(NameColumn, width);
}

void EntryListView::resizeEvent(QResizeEvent* event) {
    QTreeView::resizeEvent(event);
    fitNameColumn();
}

void EntryListView::startDrag(Qt::DropActions /*supportedActions*/) {
    if (selectedCount() > 0)
        emit dragOutRequested();
}

void EntryListView::focusInEvent(QFocusEvent* event) {
    const bool hadFocusedRow = currentIndex().isValid();
    QTreeView::focusInEvent(event);
    // Qt makes the first row the current one when the list takes the keyboard
    // focus. Here a row is focused only when the user picks one, so that Rename,
    // Delete and the row menu never act on a row nobody chose.
    if (!hadFocusedRow && currentIndex().isValid())
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
}

void EntryListView::mouseReleaseEvent(QMouseEvent* event) {
    QTreeView::mouseReleaseEvent(event);
    emit clickedAnywhere();
}

void EntryListView::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeView::mouseDoubleClickEvent(event);
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
