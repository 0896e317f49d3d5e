#pragma once

// The stored files as a Qt model: a tree of the folders their paths name
// ("Taxes/2025/return.pdf" sits in "2025", in "Taxes"), filled in one go. A
// safe whose names hold no "/" is one flat level, as it always was. Folder
// rows are made from the paths (and from the folders the safe keeps on their
// own); a file's row carries its entry, the index the operations speak of.
// The view shows it through EntrySortFilter, which sorts and filters
// without touching it.

#include "ui/Shell.h"

#include <QAbstractItemModel>
#include <QByteArray>
#include <QHash>
#include <QString>

#include <string>
#include <vector>

namespace quorvane {

class EntryTreeModel : public QAbstractItemModel {
    Q_OBJECT

  public:
    // The entry a row shows (an int, -1 for a folder), what a column sorts by
    // (a qlonglong), whether the row is a folder (a bool) and the row's whole
    // path in the safe (a QByteArray: the stored bytes, unescaped, for the
    // operations; only the cells shown are escaped).
    static constexpr int EntryRole = Qt::UserRole;
    static constexpr int SortKeyRole = Qt::UserRole + 1;
    static constexpr int FolderRole = Qt::UserRole + 2;
    static constexpr int PathRole = Qt::UserRole + 3;
    static constexpr int NameColumn = 1;
    static constexpr int SizeColumn = 2;
    static constexpr int ModifiedColumn = 3;

    explicit EntryTreeModel(QObject* parent = nullptr);

    // All rows anew: one reset, however many rows.
    void setRows(const std::vector<EntryRow>& rows);
    // The same rows as setRows gives, reached by changing only the rows that
    // differ (a rename, a move, a removal), so that the open folders, the
    // selection and the place in the list stay; false, with nothing changed,
    // when too many differ, for setRows to take over.
    bool updateRows(const std::vector<EntryRow>& rows);
    void appendRow(const EntryRow& row);
    int entryCount() const { return static_cast<int>(entryNodes_.size()); }
    // The cell of an entry's row, invalid for an entry there is not.
    QModelIndex indexOfEntry(int entry, int column = 0) const;
    // The text of an entry's cell, and how many folders its row sits in.
    const QString& textOf(int entry, int column) const;
    int depthOf(int entry) const;
    // The name shown in a row of the model, for the filter.
    const QString& nameAt(const QModelIndex& index) const;
    // The row of a folder at this path ("Taxes/2025"), invalid when there is none.
    QModelIndex indexOfFolder(const std::string& path) const;

    QModelIndex index(int row, int column,
                      const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

  private:
    static constexpr int Root = 0;
    struct Node {
        bool gone = false; // taken out by updateRows; its number is not reused
        int parent = -1;
        int rowInParent = 0;
        int entry = -1;  // -1: a folder
        QByteArray path; // the whole path in the safe, as stored
        QString cells[4];
        qlonglong keys[4] = {0, 0, 0, 0};
        std::vector<int> children;
    };

    // The folder node of a path, made with its parents where missing; when
    // announce, each new node is inserted as a model change.
    int folderNode(const QByteArray& path, bool announce);
    int addNode(int parent, Node node, bool announce);
    void addEntry(const EntryRow& row, bool announce);
    QModelIndex indexOfNode(int node, int column) const;
    int nodeOf(const QModelIndex& index) const;
    void setCells(Node& node, const EntryRow& row);
    // The name column's text for a stored path: its last part, escaped.
    static QString shownNameOf(const QByteArray& path);
    // updateRows' steps (EntryTreeUpdate.cpp).
    void removeNode(int node);
    void removeEmptyFolders(int node, const QHash<QByteArray, int>& kept);
    void announceChanged(const std::vector<int>& changed);
    void restoreOrder();
    int orderKey(int node, std::vector<qlonglong>& keys) const;

    std::vector<Node> nodes_;
    std::vector<int> entryNodes_;    // entry -> node
    QHash<QByteArray, int> folders_; // stored path -> folder node
    // What was last shown: the files' rows in entry order, and the folders'
    // own rows (stored path -> row), for updateRows to compare with.
    std::vector<EntryRow> shownFiles_;
    QHash<QByteArray, int> shownFolders_;
    std::vector<EntryRow> shownFolderRows_;
};

} // namespace quorvane
