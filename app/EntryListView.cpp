#include "app/EntryListView.h"

#include "app/WindowLayout.h"

#include <QCollator>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QHeaderView>
#include <QMouseEvent>
#include <QResizeEvent>

#include <algorithm>

namespace quorvane {

namespace {

constexpr int NameColumn = 1;
constexpr int SizeColumn = 2;
constexpr int EntryRowRole = Qt::UserRole;
// Numbers and sizes sort as numbers: "10" after "9", "2 Bytes" before "10 Bytes".
constexpr int SortKeyRole = Qt::UserRole + 1;

qlonglong sortKeyOf(int column, const QString& text) {
    const QString number = column == SizeColumn ? text.section(QLatin1Char(' '), 0, 0) : text;
    return number.toLongLong();
}

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

// A row of the list. Rows that sort alike keep the order of their entries.
class EntryItem : public QTreeWidgetItem {
  public:
    using QTreeWidgetItem::QTreeWidgetItem;

    bool operator<(const QTreeWidgetItem& other) const override {
        const int column = treeWidget() != nullptr ? treeWidget()->sortColumn() : 0;
        if (column == NameColumn) {
            const QString mine = text(column);
            const QString theirs = other.text(column);
            if (const int order = nameOrder().compare(mine, theirs); order != 0)
                return order < 0;
            if (const int order = mine.compare(theirs); order != 0)
                return order < 0;
        } else {
            const qlonglong mine = data(column, SortKeyRole).toLongLong();
            const qlonglong theirs = other.data(column, SortKeyRole).toLongLong();
            if (mine != theirs)
                return mine < theirs;
        }
        return EntryListView::entryOf(this) < EntryListView::entryOf(&other);
    }
};

} // namespace

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
    nameWidthNeeded_ = columns[NameColumn].width;

    // A click on a header sorts by that column, a second one the other way
    // round. Until then no column is sorted on: the rows stand in the order
    // of the entries.
    header()->setSortIndicator(-1, Qt::AscendingOrder);
    setSortingEnabled(true);
    sortAgain_.setSingleShot(true);
    sortAgain_.setInterval(0);
    connect(&sortAgain_, &QTimer::timeout, this, [this] { setSortingEnabled(true); });

    const auto forgetSelection = [this] { selectedEntries_.reset(); };
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, forgetSelection);
    connect(model(), &QAbstractItemModel::rowsInserted, this, forgetSelection);
    connect(model(), &QAbstractItemModel::rowsRemoved, this, forgetSelection);
    connect(model(), &QAbstractItemModel::modelReset, this, forgetSelection);
}

void EntryListView::holdSortingWhileFilling() {
    if (isSortingEnabled() && sortColumn() >= 0) {
        setSortingEnabled(false);
        sortAgain_.start();
    }
}

int EntryListView::entryOf(const QTreeWidgetItem* item) {
    if (item == nullptr)
        return -1;
    const QVariant row = item->data(0, EntryRowRole);
    return row.isValid() ? row.toInt() : -1;
}

QTreeWidgetItem* EntryListView::entryItem(int row) const {
    if (row < 0 || row >= entryCount())
        return nullptr;
    return entries_[static_cast<std::size_t>(row)];
}

void EntryListView::clearEntries() {
    holdSortingWhileFilling();
    entries_.clear();
    clear();
}

void EntryListView::insertEntry(int row, const QString& column0) {
    holdSortingWhileFilling();
    auto* item = new EntryItem(QStringList{column0});
    for (int column = 0; column < columnCount(); ++column)
        item->setTextAlignment(column, Qt::AlignLeft | Qt::AlignVCenter);
    item->setData(0, SortKeyRole, sortKeyOf(0, column0));
    const int at = row < 0 || row > entryCount() ? entryCount() : row;
    entries_.insert(entries_.begin() + at, item);
    for (int later = at; later < entryCount(); ++later)
        entries_[static_cast<std::size_t>(later)]->setData(0, EntryRowRole, later);
    // Unsorted, the rows stand in entry order; sorted, Qt puts the new row in
    // its place once the list is filled.
    insertTopLevelItem(sortColumn() < 0 ? at : topLevelItemCount(), item);
    applyFilter(item);
    widenColumnToFit(at, 0);
}

void EntryListView::setEntryText(int row, int column, const QString& text) {
    QTreeWidgetItem* item = entryItem(row);
    if (item == nullptr || column < 0 || column >= columnCount())
        return;
    holdSortingWhileFilling();
    item->setText(column, text);
    if (column != NameColumn)
        item->setData(column, SortKeyRole, sortKeyOf(column, text));
    else
        applyFilter(item);
    widenColumnToFit(row, column);
}

void EntryListView::setNameFilter(const QString& text) {
    if (text == filter_)
        return;
    filter_ = text;
    // One layout for the whole pass rather than one per row.
    setUpdatesEnabled(false);
    for (QTreeWidgetItem* item : entries_)
        applyFilter(item);
    setUpdatesEnabled(true);
}

void EntryListView::applyFilter(QTreeWidgetItem* item) {
    const bool hide =
        !filter_.isEmpty() && !item->text(NameColumn).contains(filter_, Qt::CaseInsensitive);
    if (item->isHidden() == hide)
        return;
    if (hide) {
        // A command must never act on a row that the user cannot see.
        if (item->isSelected())
            item->setSelected(false);
        if (currentItem() == item)
            selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    }
    item->setHidden(hide);
    selectedEntries_.reset();
}

bool EntryListView::isShownEntry(const QTreeWidgetItem* item) const {
    return item != nullptr && !item->isHidden() && entryOf(item) != -1;
}

int EntryListView::focusedRow() const {
    const QTreeWidgetItem* item = currentItem();
    return isShownEntry(item) ? entryOf(item) : -1;
}

const std::vector<int>& EntryListView::selectedEntries() const {
    if (!selectedEntries_) {
        std::vector<int> entries;
        for (const QModelIndex& index : selectionModel()->selectedRows()) {
            const QTreeWidgetItem* item = itemFromIndex(index);
            if (isShownEntry(item))
                entries.push_back(entryOf(item));
        }
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

void EntryListView::widenColumnToFit(int row, int column) {
    QTreeWidgetItem* item = entryItem(row);
    if (item == nullptr)
        return;
    const int needed = sizeHintForIndex(indexFromItem(item, column)).width();
    if (column == NameColumn) {
        if (needed > nameWidthNeeded_) {
            nameWidthNeeded_ = needed;
            fitNameColumn();
        }
    } else if (needed > columnWidth(column)) {
        setColumnWidth(column, needed);
        fitNameColumn();
    }
}

void EntryListView::fitNameColumn() {
    const int room = viewport()->width() - columnWidth(0) - columnWidth(SizeColumn);
    const int width = std::max(nameWidthNeeded_, room);
    if (width != columnWidth(NameColumn))
        setColumnWidth(NameColumn, width);
}

void EntryListView::resizeEvent(QResizeEvent* event) {
    QTreeWidget::resizeEvent(event);
    fitNameColumn();
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
