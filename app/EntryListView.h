#pragma once

#include <QTreeWidget>

namespace quorvane {

// The list of stored files: one row per entry, three columns, several rows
// selectable, nothing editable. It only shows rows and reports gestures; the
// window decides what they mean.
class EntryListView : public QTreeWidget {
    Q_OBJECT

  public:
    explicit EntryListView(QWidget* parent = nullptr);

    // The focused row (the current item), -1 when there is none.
    int focusedRow() const;
    // The first selected row after the given one (-1: from the top), -1 when none.
    int nextSelectedRow(int after) const;
    int selectedCount() const;
    // Widens the column when the text of this cell would not fit; columns
    // never get narrower than their first widths.
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
};

} // namespace quorvane
