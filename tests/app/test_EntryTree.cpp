// The list as a tree: the folders that stored paths name, expanded and
// collapsed, the name filter searching every folder and showing each hit
// inside the folders that hold it, and a plain safe's flat list unchanged.

#include "app/EntryListView.h"
#include "app/EntryTreeModel.h"

#include <QTest>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace quorvane {
namespace {

EntryRow file(int number, const std::string& path, const std::string& modified = "") {
    return {std::to_string(number), path, std::to_string(number + 1) + " Bytes", modified};
}

EntryRow folder(const std::string& path) {
    EntryRow row;
    row.name = path;
    row.folder = true;
    return row;
}

// The paths of the entries the list shows, in entry order.
std::vector<std::string> shownPaths(const EntryListView& list) {
    std::vector<std::string> paths;
    for (int entry = 0; entry < list.entryCount(); ++entry)
        if (list.indexOfEntry(entry).isValid())
            paths.push_back(list.entryPath(entry));
    return paths;
}

// Whether every folder above the entry's row is open, so that it is seen.
bool seen(const EntryListView& list, int entry) {
    for (QModelIndex above = list.indexOfEntry(entry).parent(); above.isValid();
         above = above.parent())
        if (!list.isExpanded(above))
            return false;
    return list.indexOfEntry(entry).isValid();
}

const std::vector<EntryRow> Library = {
    file(0, "Wedding/IMG_0001.JPG", "2024-05-01 10:00"),
    file(1, "Wedding/IMG_0002.JPG", "2024-05-01 10:01"),
    file(2, "Kyoto/Day 1/IMG_0001.JPG", "2025-03-02 09:30"),
    file(3, "notes.txt", "2025-06-01 12:00"),
    folder("Taxes/2025"),
};

TEST(EntryTree, OperationsTable) {
    struct Case {
        const char* what;
        std::vector<EntryRow> rows;
        std::vector<EntryRow> appended;
        QString filter;
        std::vector<std::string> shown; // entries' paths the list shows
        int topRows;                    // rows at the top level, as shown
        bool arrows;                    // folders: the root is decorated
    };
    const std::vector<Case> cases = {
        {"a plain safe stays one flat list",
         {file(0, "b.txt"), file(1, "a.txt")},
         {},
         {},
         {"b.txt", "a.txt"},
         2,
         false},
        {"paths make folders, a kept folder shows empty",
         Library,
         {},
         {},
         {"Wedding/IMG_0001.JPG", "Wedding/IMG_0002.JPG", "Kyoto/Day 1/IMG_0001.JPG", "notes.txt"},
         4, // Wedding, Kyoto, notes.txt, Taxes
         true},
        {"the filter finds a name in every folder",
         Library,
         {},
         QStringLiteral("img_0001"),
         {"Wedding/IMG_0001.JPG", "Kyoto/Day 1/IMG_0001.JPG"},
         2,
         true},
        {"a folder's name is no hit for the files in it",
         Library,
         {},
         QStringLiteral("kyoto"),
         {},
         1,
         true},
        {"an added file goes into its folder, made where missing",
         Library,
         {file(4, "Kyoto/Day 2/IMG_0100.JPG"), file(5, "Wedding/IMG_0003.JPG")},
         QStringLiteral("img_0"),
         {"Wedding/IMG_0001.JPG", "Wedding/IMG_0002.JPG", "Kyoto/Day 1/IMG_0001.JPG",
          "Kyoto/Day 2/IMG_0100.JPG", "Wedding/IMG_0003.JPG"},
         2,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EntryListView list;
        list.showEntries(c.rows);
        for (const EntryRow& row : c.appended)
            list.appendEntry(row);
        list.setNameFilter(c.filter);
        EXPECT_EQ(shownPaths(list), c.shown);
        EXPECT_EQ(list.shownCount(), c.topRows);
        EXPECT_EQ(list.rootIsDecorated(), c.arrows);
        EXPECT_EQ(list.shownEntryCount(), static_cast<int>(c.shown.size()));
        for (int entry = 0; !c.filter.isEmpty() && entry < list.entryCount(); ++entry) {
            if (list.indexOfEntry(entry).isValid()) {
                EXPECT_TRUE(seen(list, entry)) << "each hit shows where it is";
            }
        }
    }
}

// A folder's row is no entry: a command never takes it for a file; its
// arrow opens and closes it.
TEST(EntryTree, FoldersAreNoEntriesAndOpenAndClose) {
    EntryListView list;
    list.resize(600, 400);
    list.showEntries(Library);
    const QModelIndex wedding = list.indexOfEntry(0).parent();
    ASSERT_TRUE(wedding.isValid());
    EXPECT_EQ(wedding.siblingAtColumn(EntryTreeModel::NameColumn).data().toString(),
              QStringLiteral("Wedding"));
    EXPECT_FALSE(list.isExpanded(wedding));
    list.setCurrentIndex(wedding);
    EXPECT_EQ(list.focusedRow(), -1);
    // Selected, a folder stands for the files below it that are shown.
    list.selectionModel()->select(wedding, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    EXPECT_EQ(list.selectedCount(), 2);
    EXPECT_EQ(list.nextSelectedRow(-1), 0);
    EXPECT_EQ(list.nextSelectedRow(0), 1);
    EXPECT_EQ(list.selectedFolders(), std::vector<std::string>{"Wedding"}) << "for its empty ones";
    list.selectEntry(1); // beside it: still once
    EXPECT_EQ(list.selectedCount(), 2);
    EXPECT_EQ(list.selectedFolders(), std::vector<std::string>{"Wedding"}) << "a file is none";
    list.setNameFilter(QStringLiteral("0002"));
    EXPECT_EQ(list.selectedCount(), 1) << "a file the filter hides is not taken";
    list.setNameFilter(QString());
    list.clearSelection();
    list.expand(wedding);
    EXPECT_TRUE(seen(list, 0));
    list.collapse(wedding);
    EXPECT_FALSE(seen(list, 0));
    // The Modified column shows where the safe keeps times, not for a plain safe.
    EXPECT_FALSE(list.isColumnHidden(EntryTreeModel::ModifiedColumn));
    EXPECT_EQ(list.entryText(3, EntryTreeModel::ModifiedColumn),
              QStringLiteral("2025-06-01 12:00"));
    list.showEntries({file(0, "a.txt")});
    EXPECT_TRUE(list.isColumnHidden(EntryTreeModel::ModifiedColumn));
}

// A folder's row shows its name escaped and hands Rename and Delete the
// stored path, byte for byte: control characters and bytes that are no
// UTF-8 never turn into another folder's path.
TEST(EntryTree, FolderRowsKeepTheStoredPath) {
    struct Case {
        std::string stored; // the folder's path, holding one file
        QString shown;      // its name in the list
        std::string alike;  // another folder whose name shows much the same
    };
    const std::vector<Case> cases = {
        {"Tax\nes", QStringLiteral("Tax\\x0Aes"), "Tax\\x0Aes"},
        {"Tab\tbed/in\x1b[31mside", QStringLiteral("in\\x1B[31mside"), "Tab\tbed/in[31mside"},
        {"Latin\xe9", QString::fromUtf8("Latin\xef\xbf\xbd"), "Latin\xe8"},
        {"plain/\xff\xfe", QString::fromUtf8("\xef\xbf\xbd\xef\xbf\xbd"), "plain/\xfe\xff"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        EntryListView list;
        list.showEntries({file(0, c.stored + "/a.txt"), file(1, c.alike + "/b.txt")});
        const QModelIndex folder = list.indexOfEntry(0).parent();
        ASSERT_TRUE(folder.isValid());
        EXPECT_EQ(folder.siblingAtColumn(EntryTreeModel::NameColumn).data().toString(), c.shown);
        list.setCurrentIndex(folder);
        EXPECT_EQ(list.focusedFolder(), c.stored);
        EXPECT_EQ(list.entryPath(0), c.stored + "/a.txt");
        EXPECT_NE(list.indexOfEntry(0).parent(), list.indexOfEntry(1).parent())
            << "two stored names are two folders, however alike they show";
    }
}

// Sorted by name, folders come first, either way round.
TEST(EntryTree, FoldersSortBeforeFiles) {
    EntryListView list;
    list.showEntries({file(0, "a.txt"), file(1, "Zebra/z.txt"), file(2, "b.txt")});
    for (Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
        list.sortByColumn(EntryTreeModel::NameColumn, order);
        EXPECT_EQ(list.model()->index(0, EntryTreeModel::NameColumn).data().toString(),
                  QStringLiteral("Zebra"));
    }
}

// Every row of a model as a line: its cells, its entry and its stored path,
// indented by its folders, in the model's own order.
void dumpRows(const QAbstractItemModel& model, const QModelIndex& parent, const std::string& indent,
              std::vector<std::string>& lines) {
    for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex at = model.index(row, 0, parent);
        std::string line = indent;
        for (int column = 0; column < model.columnCount(parent); ++column)
            line += model.index(row, column, parent).data().toString().toStdString() + "|";
        line += std::to_string(at.data(EntryTreeModel::EntryRole).toInt()) + "|" +
                at.data(EntryTreeModel::PathRole).toByteArray().toStdString() + "|" +
                std::to_string(at.data(EntryTreeModel::SortKeyRole).toLongLong());
        lines.push_back(line);
        dumpRows(model, at, indent + "  ", lines);
    }
}

std::vector<std::string> dumpRows(const QAbstractItemModel& model) {
    std::vector<std::string> lines;
    dumpRows(model, {}, "", lines);
    return lines;
}

// The rows shown again after a command change only what differs, and give
// the very rows a list made anew would: cells, entries, paths and order.
TEST(EntryTree, ShownAgainTheChangedRowsAreThoseOfAListMadeAnew) {
    const std::vector<EntryRow> start = {
        file(0, "Wedding/IMG_0001.JPG", "2024-05-01 10:00"),
        file(1, "Kyoto/Day 1/IMG_0001.JPG", "2025-03-02 09:30"),
        file(2, "Wedding/IMG_0002.JPG", "2024-05-01 10:01"),
        file(3, "notes.txt", "2025-06-01 12:00"),
        folder("Taxes/2025"),
        folder("Wedding"),
    };
    // start with the entry at position at replaced by row (none: removed),
    // the later entries numbered again.
    const auto changed = [&](std::size_t at, std::optional<EntryRow> row) {
        std::vector<EntryRow> rows = start;
        if (row)
            rows[at] = *row;
        else
            rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(at));
        for (std::size_t i = 0; i < rows.size() && !rows[i].folder; ++i)
            rows[i] = file(static_cast<int>(i), rows[i].name, rows[i].modified);
        return rows;
    };
    std::vector<EntryRow> folderRenamed = start;
    folderRenamed[0].name = "Hochzeit/IMG_0001.JPG";
    folderRenamed[2].name = "Hochzeit/IMG_0002.JPG";
    folderRenamed[5].name = "Hochzeit";
    std::vector<EntryRow> folderAdded = start;
    folderAdded.push_back(folder("Album"));
    std::vector<EntryRow> folderTimeChanged = start;
    folderTimeChanged[4].modified = "2026-01-01 00:00";
    struct Case {
        const char* what;
        std::vector<EntryRow> rows;
    } const cases[] = {
        {"a file renamed in its folder", changed(0, file(0, "Wedding/IMG_0009.JPG", "2024"))},
        {"a file moved to another folder", changed(0, file(0, "Kyoto/Day 1/IMG_0009.JPG"))},
        {"a file moved to a new folder", changed(3, file(3, "Notes/notes.txt"))},
        {"a file removed, the later ones numbered again", changed(0, std::nullopt)},
        {"the last file of a folder removed", changed(1, std::nullopt)},
        {"a folder renamed with its files", folderRenamed},
        {"a folder of its own removed", changed(4, std::nullopt)},
        {"a folder made", folderAdded},
        {"a folder's time changed", folderTimeChanged},
        {"nothing changed", start},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EntryTreeModel fresh;
        fresh.setRows(c.rows);
        EntryTreeModel updated;
        updated.setRows(start);
        ASSERT_TRUE(updated.updateRows(c.rows));
        EXPECT_EQ(dumpRows(updated), dumpRows(fresh));
        EXPECT_EQ(updated.entryCount(), fresh.entryCount());
        for (int entry = 0; entry < fresh.entryCount(); ++entry)
            EXPECT_EQ(updated.indexOfEntry(entry).data(EntryTreeModel::PathRole),
                      fresh.indexOfEntry(entry).data(EntryTreeModel::PathRole));
        // A second change goes from the first one's rows.
        ASSERT_TRUE(updated.updateRows(start));
        fresh.setRows(start);
        EXPECT_EQ(dumpRows(updated), dumpRows(fresh)) << "and back";
    }
}

// In the list, an open folder stays open when a file in it is renamed; the
// focus and the selection go, as they did when the list was made anew.
TEST(EntryTree, ARenameKeepsTheFoldersOpenAndDropsTheSelection) {
    EntryListView list;
    list.showEntries(Library);
    const QModelIndex kyoto = list.indexOfEntry(2).parent().parent();
    list.expand(kyoto);
    list.expand(list.indexOfEntry(2).parent());
    list.focusEntry(2);
    list.selectEntry(2);
    std::vector<EntryRow> renamed = Library;
    renamed[2].name = "Kyoto/Day 1/IMG_0042.JPG";
    list.showEntries(renamed);
    EXPECT_TRUE(seen(list, 2));
    EXPECT_EQ(list.entryPath(2), "Kyoto/Day 1/IMG_0042.JPG");
    EXPECT_EQ(list.entryText(2, EntryTreeModel::NameColumn), QStringLiteral("IMG_0042.JPG"));
    EXPECT_EQ(list.focusedRow(), -1);
    EXPECT_EQ(list.selectedCount(), 0);
}

} // namespace
} // namespace quorvane
