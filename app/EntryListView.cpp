#include "app/EntryListView.h"

#include "app/EntrySortFilter.h"
#include "app/EntryTreeModel.h"
#include "app/WindowLayout.h"

#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QHeaderView>
#include <QMouseEvent>
#include <QResizeEvent>

#include <algorithm>

namespace quorvane {

namespace {

constexpr int NameColumn = EntryTreeModel::NameColumn;
constexpr int SizeColumn = EntryTreeModel::SizeColumn;
constexpr int ModifiedColumn = EntryTreeModel::ModifiedColumn;
constexpr int ColumnCount = static_cast<int>(layout::EntryListColumns.size());

int entryOf(const QModelIndex& index) {
    return index.isValid() ? index.data(EntryTreeModel::EntryRole).toInt() : -1;
}

} // namespace

EntryListView::EntryListView(QWidget* parent)
    : QTreeView(parent), entries_(new EntryTreeModel(this)), order_(new EntrySortFilter(this)) {
    setObjectName(QStringLiteral("EntryList"));
    setAccessibleName(QStringLiteral("Stored files"));
    order_->setSourceModel(entries_);
    setModel(order_);
    // Folders open and close with a click on their arrow, a double-click or
    // the arrow keys; a safe without folders shows no arrows at all.
    setRootIsDecorated(false);
    setItemsExpandable(true);
    // The arrows and the indentation go with the names, where a reader looks
    // for the folders, not with the numbers.
    setTreePosition(NameColumn);
    setExpandsOnDoubleClick(true);
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
    setColumnHidden(ModifiedColumn, true);

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

// A list shown again after a command (a rename, a move, a removal) changes
// only the rows that differ: the open folders and the place in the list
// stay. The focus and the selection go, as with a list made anew, so that
// no row the user did not pick is acted on next.
void EntryListView::showEntries(const std::vector<EntryRow>& rows) {
    if (entryCount() > 0 && !rows.empty() && entries_->updateRows(rows))
        selectionModel()->clear();
    else
        entries_->setRows(rows);
    showTreeShape(rows, true);
    widenColumnsFor(0);
}

void EntryListView::appendEntry(const EntryRow& row) {
    entries_->appendRow(row);
    showTreeShape({row}, false);
    widenColumnsFor(entryCount() - 1);
}

// Arrows and the Modified column only where the safe keeps folders and
// times: a plain safe's list looks as it always has.
void EntryListView::showTreeShape(const std::vector<EntryRow>& rows, bool whole) {
    bool folders = false;
    bool times = false;
    for (const EntryRow& row : rows) {
        folders = folders || row.folder || row.name.find('/') != std::string::npos;
        times = times || !row.modified.empty();
    }
    // One row more turns them on, never off.
    if (whole || folders)
        setRootIsDecorated(folders);
    if (whole || times)
        setColumnHidden(ModifiedColumn, !times);
}

int EntryListView::entryCount() const {
    return entries_->entryCount();
}

int EntryListView::shownCount() const {
    return order_->rowCount();
}

int EntryListView::shownEntryCount() const {
    int shown = 0;
    std::vector<QModelIndex> folders{QModelIndex()};
    while (!folders.empty()) {
        const QModelIndex folder = folders.back();
        folders.pop_back();
        for (int row = 0; row < order_->rowCount(folder); ++row) {
            const QModelIndex index = order_->index(row, 0, folder);
            if (entryOf(index) >= 0)
                ++shown;
            else
                folders.push_back(index);
        }
    }
    return shown;
}

int EntryListView::entryAt(int position) const {
    return entryOf(order_->index(position, 0));
}

QModelIndex EntryListView::indexOfEntry(int entry, int column) const {
    return order_->mapFromSource(entries_->indexOfEntry(entry, column));
}

QString EntryListView::entryText(int entry, int column) const {
    return entries_->indexOfEntry(entry, column).data().toString();
}

std::string EntryListView::entryPath(int entry) const {
    return entries_->indexOfEntry(entry).data(EntryTreeModel::PathRole).toByteArray().toStdString();
}

void EntryListView::setNameFilter(const QString& text) {
    if (text == filter_)
        return;
    filter_ = text;
    // A command must never act on a row that the user cannot see; and a row
    // that stays keeps the focus it had, rather than the one Qt would move to
    // a neighbour of a row the filter takes away.
    const int focused = focusedRow();
    order_->setNameFilter(text);
    const QModelIndex stays = indexOfEntry(focused);
    selectionModel()->setCurrentIndex(stays, QItemSelectionModel::NoUpdate);
    selectedEntries_.reset();
    if (!text.isEmpty() && rootIsDecorated())
        openFoldersOfHits();
}

// Each hit shows inside the folders that hold it, so that it says where it
// is; where there are more hits than anyone reads, the folders that hold
// them stay closed (and laying out ten thousand rows would make every
// keystroke wait) until the text narrows them down.
void EntryListView::openFoldersOfHits() {
    constexpr int MostOpened = 1000;
    int hits = 0;
    std::vector<QModelIndex> folders;
    std::vector<QModelIndex> toVisit{QModelIndex()};
    while (!toVisit.empty()) {
        const QModelIndex folder = toVisit.back();
        toVisit.pop_back();
        for (int row = 0; row < order_->rowCount(folder); ++row) {
            const QModelIndex index = order_->index(row, 0, folder);
            if (entryOf(index) < 0) {
                folders.push_back(index);
                toVisit.push_back(index);
            } else if (++hits > MostOpened) {
                return;
            }
        }
    }
    // With a layout pending, each expand() only notes the folder, and the
    // rows are laid out once for all of them.
    scheduleDelayedItemsLayout();
    for (const QModelIndex& folder : folders)
        expand(folder);
}

std::string EntryListView::focusedFolder() const {
    const QModelIndex current = currentIndex();
    if (!current.isValid() || entryOf(current) >= 0)
        return {};
    return current.data(EntryTreeModel::PathRole).toByteArray().toStdString();
}

int EntryListView::focusedRow() const {
    return entryOf(currentIndex());
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
        // A selected folder stands for every file below it that is shown
        // (Extract takes them all); a file selected beside it counts once.
        std::vector<int> entries;
        std::vector<QModelIndex> toVisit;
        for (const QModelIndex& index : selectionModel()->selectedRows())
            toVisit.push_back(index);
        while (!toVisit.empty()) {
            const QModelIndex index = toVisit.back();
            toVisit.pop_back();
            if (const int entry = entryOf(index); entry >= 0) {
                entries.push_back(entry);
                continue;
            }
            for (int row = 0; row < order_->rowCount(index); ++row)
                toVisit.push_back(order_->index(row, 0, index));
        }
        std::sort(entries.begin(), entries.end());
        entries.erase(std::unique(entries.begin(), entries.end()), entries.end());
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

std::vector<std::string> EntryListView::selectedFolders() const {
    std::vector<std::string> folders;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        if (entryOf(index) < 0)
            folders.push_back(index.data(EntryTreeModel::PathRole).toByteArray().toStdString());
    return folders;
}

// Measuring every cell of ten thousand rows would hold the list up for a
// good part of a second: only the longest texts of each column are
// measured, a few hundred at most of those within a few characters of the
// longest.
void EntryListView::widenColumnsFor(int first) {
    constexpr qsizetype Margin = 3;
    constexpr int MostMeasured = 200;
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    int needed[ColumnCount] = {};
    for (int column = 0; column < ColumnCount; ++column) {
        qsizetype longest = 0;
        for (int entry = std::max(first, 0); entry < entryCount(); ++entry)
            longest = std::max(longest, entries_->textOf(entry, column).size());
        int measured = 0;
        for (int entry = std::max(first, 0); entry < entryCount() && measured < MostMeasured;
             ++entry) {
            if (entries_->textOf(entry, column).size() + Margin < longest)
                continue;
            ++measured;
            const QModelIndex index = entries_->indexOfEntry(entry, column);
            int width = itemDelegate()->sizeHint(option, index).width();
            // A name deep in folders is shown indented.
            if (column == NameColumn)
                width += indentation() * (entries_->depthOf(entry) + 1);
            needed[column] = std::max(needed[column], width);
        }
    }
    nameWidthNeeded_ = std::max(nameWidthNeeded_, needed[NameColumn]);
    for (int column : {0, SizeColumn, ModifiedColumn})
        if (needed[column] > columnWidth(column))
            setColumnWidth(column, needed[column]);
    fitNameColumn();
}

void EntryListView::fitNameColumn() {
    int room = viewport()->width() - columnWidth(0) - columnWidth(SizeColumn);
    if (!isColumnHidden(ModifiedColumn))
        room -= columnWidth(ModifiedColumn);
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
