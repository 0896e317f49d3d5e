#pragma once

#include <QTimer>
#include <QTreeWidget>

#include <optional>
#include <vector>

namespace quorvane {

// The list of stored files: one row per entry, three columns, several rows
// selectable, nothing editable. It only shows rows and reports gestures; the
// window decides what they mean.
//
// The rows that the operations speak of are entries: row i is the stored
// file at index i, whatever order a click on a column header shows them in
// and whichever rows the name filter hides. Every query answers in entries,
// and only about rows that are shown.
class EntryListView : public QTreeWidget {
    Q_OBJECT

  public:
    explicit EntryListView(QWidget* parent = nullptr);

    void clearEntries();
    // Inserts entry row (at the end when out of range) with the text of column 0.
    void insertEntry(int row, const QString& column0);
    void setEntryText(int row, int column, const QString& text);
    int entryCount() const { return static_cast<int>(entries_.size()); }
    QTreeWidgetItem* entryItem(int row) const;
    // The entry a row of the list shows, -1 for none.
    static int entryOf(const QTreeWidgetItem* item);

    // Shows only the rows whose name holds text, whatever the case; the empty
    // text shows every row. Hidden rows lose their selection and the focus.
    void setNameFilter(const QString& text);
    const QString& nameFilter() const { return filter_; }

    // The focused entry (the current row), -1 when there is none.
    int focusedRow() const;
    // The first selected entry after the given one (-1: from the first), -1 when none.
    int nextSelectedRow(int after) const;
    int selectedCount() const;
    // Widens the column when the text of this entry's cell would not fit;
    // columns never get narrower than their first widths.
    void widenColumnToFit(int row, int column);

  signals:
    // A right-click, or the menu key, asks for the row menu at this place on
    // the screen.
    void rowMenuRequested(const QPoint& globalPosition);
    // A click or double-click anywhere in the list, after the list has moved
    // its focus and selection.
    void clickedAnywhere();

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void applyFilter(QTreeWidgetItem* item);
    // While the operations fill the list row by row, a sorted list would move
    // a row at every cell they set (5,000 rows: seconds); it sorts once the
    // filling is over, when the event loop runs again.
    void holdSortingWhileFilling();
    // The shown selected entries in entry order, worked out once per change of
    // the selection: an extraction asks for the next one at every file.
    const std::vector<int>& selectedEntries() const;
    bool isShownEntry(const QTreeWidgetItem* item) const;
    // The name column takes whatever room the other two leave, and never
    // less than its longest name needs.
    void fitNameColumn();

    std::vector<QTreeWidgetItem*> entries_;
    QString filter_;
    int nameWidthNeeded_ = 0;
    QTimer sortAgain_;
    mutable std::optional<std::vector<int>> selectedEntries_;
};

} // namespace quorvane
