#pragma once

#include "ui/Shell.h"

#include <QTreeView>

#include <optional>
#include <string>
#include <vector>

namespace quorvane {

class EntrySortFilter;
class EntryTreeModel;

// The list of stored files: one row per entry (in the folders of their
// paths, where the safe keeps folders), several rows
// selectable, nothing editable. It only shows rows and reports gestures; the
// window decides what they mean. The rows live in an EntryTreeModel, and an
// EntrySortFilter between it and the view does the order a click on a header
// asks for and the name filter.
//
// The rows that the operations speak of are entries: row i is the stored
// file at index i, whatever order the list shows them in and whichever rows
// the name filter hides. Every query answers in entries, and only about rows
// that are shown.
class EntryListView : public QTreeView {
    Q_OBJECT

  public:
    explicit EntryListView(QWidget* parent = nullptr);
    ~EntryListView() override;

    // Every row anew, in one go.
    void showEntries(const std::vector<EntryRow>& rows);
    void appendEntry(const EntryRow& row);
    void clearEntries() { showEntries({}); }
    int entryCount() const;
    // How many rows the filter lets through at the top level, and how many
    // stored files in every folder.
    int shownCount() const;
    int shownEntryCount() const;
    // The entry shown at row position of the list (in its present order), -1 for none.
    int entryAt(int position) const;
    // The list's index of an entry's cell, invalid when the entry is not shown.
    QModelIndex indexOfEntry(int entry, int column = 0) const;
    // The text of an entry's cell, shown or not (its own name in the name
    // column), and its whole path in the safe as stored (the bytes the
    // operations take, where the cells show control characters escaped).
    QString entryText(int entry, int column) const;
    std::string entryPath(int entry) const;

    // Shows only the rows whose name holds text, whatever the case; the empty
    // text shows every row. Hidden rows lose their selection and the focus.
    void setNameFilter(const QString& text);
    const QString& nameFilter() const { return filter_; }

    // The focused entry (the current row), -1 when there is none or it is a folder.
    int focusedRow() const;
    // The stored path of the focused row when it is a folder's, else empty.
    std::string focusedFolder() const;
    // The first selected entry after the given one (-1: from the first), -1
    // when none; a selected folder stands for the shown files below it.
    int nextSelectedRow(int after) const;
    int selectedCount() const;
    // The stored paths of the selected folder rows.
    std::vector<std::string> selectedFolders() const;
    // Moves the focus to an entry's row (none for -1), as a click on it does
    // without selecting it.
    void focusEntry(int entry);
    // Adds an entry's row to the selection.
    void selectEntry(int entry);

  signals:
    // A right-click, or the menu key, asks for the row menu at this place on
    // the screen.
    void rowMenuRequested(const QPoint& globalPosition);
    // A click or double-click anywhere in the list, after the list has moved
    // its focus and selection.
    void clickedAnywhere();
    // The selected rows are being dragged out of the list.
    void dragOutRequested();

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;

  private:
    // The shown selected entries in entry order, worked out once per change of
    // the selection: an extraction asks for the next one at every file.
    const std::vector<int>& selectedEntries() const;
    // Columns widen when the text of the entries from first on would not fit;
    // they never get narrower than their first widths.
    void widenColumnsFor(int first);
    // The name column takes whatever room the other two leave, and never
    // less than its longest name needs.
    void fitNameColumn();
    void showTreeShape(const std::vector<EntryRow>& rows, bool whole);
    void openFoldersOfHits();

    EntryTreeModel* entries_;
    EntrySortFilter* order_;
    QString filter_;
    int nameWidthNeeded_ = 0;
    mutable std::optional<std::vector<int>> selectedEntries_;
};

} // namespace quorvane
