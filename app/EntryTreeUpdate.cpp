// The model brought to new rows by changing only the rows that differ: a
// rename, a move or a removal touches a few rows of thousands, and a reset
// would lay out every row again and close every open folder.

#include "app/EntryTreeModel.h"

#include <algorithm>
#include <limits>
#include <map>
#include <utility>

namespace quorvane {

namespace {

QByteArray storedPath(const std::string& bytes) {
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QByteArray folderPart(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray() : path.left(slash);
}

bool sameCells(const EntryRow& a, const EntryRow& b) {
    return a.number == b.number && a.size == b.size && a.modified == b.modified;
}

} // namespace

void EntryTreeModel::removeNode(int node) {
    Node& gone = nodes_[static_cast<std::size_t>(node)];
    const int row = gone.rowInParent;
    beginRemoveRows(indexOfNode(gone.parent, 0), row, row);
    std::vector<int>& siblings = nodes_[static_cast<std::size_t>(gone.parent)].children;
    siblings.erase(siblings.begin() + row);
    for (std::size_t at = static_cast<std::size_t>(row); at < siblings.size(); ++at)
        nodes_[static_cast<std::size_t>(siblings[at])].rowInParent = static_cast<int>(at);
    gone.gone = true;
    endRemoveRows();
}

// A folder that holds nothing any more and has no row of its own goes, as it
// would be missing from a list made anew; then its parent is looked at.
void EntryTreeModel::removeEmptyFolders(int node, const QHash<QByteArray, int>& kept) {
    while (node > Root) {
        const Node& folder = nodes_[static_cast<std::size_t>(node)];
        if (folder.gone || folder.entry != -1 || !folder.children.empty() ||
            kept.contains(folder.path))
            return;
        const int parent = folder.parent;
        folders_.remove(folder.path);
        removeNode(node);
        node = parent;
    }
}

// One notice per folder, from its first changed row to its last.
void EntryTreeModel::announceChanged(const std::vector<int>& changed) {
    std::map<int, std::pair<int, int>> spans;
    for (const int node : changed) {
        const Node& it = nodes_[static_cast<std::size_t>(node)];
        if (it.gone)
            continue;
        auto [span, made] = spans.try_emplace(it.parent, it.rowInParent, it.rowInParent);
        if (!made) {
            span->second.first = std::min(span->second.first, it.rowInParent);
            span->second.second = std::max(span->second.second, it.rowInParent);
        }
    }
    for (const auto& [parent, span] : spans) {
        const QModelIndex above = indexOfNode(parent, 0);
        emit dataChanged(index(span.first, 0, above), index(span.second, columnCount() - 1, above));
    }
}

// A list made anew holds each folder's rows in the order they first came:
// a file by its entry, a folder by the first entry below it, and a folder
// with no file below by its folder row, after every file. Rows that came or
// moved are put back in that order.
void EntryTreeModel::restoreOrder() {
    constexpr qlonglong AfterFiles = std::numeric_limits<int>::max();
    constexpr qlonglong Never = std::numeric_limits<qlonglong>::max();
    std::vector<qlonglong> keys(nodes_.size(), Never);
    // A node's parent is always made before it: children come later.
    for (std::size_t node = nodes_.size(); node-- > 1;) {
        const Node& it = nodes_[node];
        if (it.gone)
            continue;
        if (it.entry != -1)
            keys[node] = it.entry;
        else if (const auto own = shownFolders_.constFind(it.path); own != shownFolders_.constEnd())
            keys[node] = std::min(keys[node], AfterFiles + *own);
        qlonglong& above = keys[static_cast<std::size_t>(it.parent)];
        above = std::min(above, keys[node]);
    }
    const auto byKey = [&](int a, int b) {
        return keys[static_cast<std::size_t>(a)] < keys[static_cast<std::size_t>(b)];
    };
    std::vector<std::size_t> unordered;
    for (std::size_t node = 0; node < nodes_.size(); ++node)
        if (!nodes_[node].gone &&
            !std::is_sorted(nodes_[node].children.begin(), nodes_[node].children.end(), byKey))
            unordered.push_back(node);
    if (unordered.empty())
        return;
    emit layoutAboutToBeChanged();
    const QModelIndexList before = persistentIndexList();
    for (const std::size_t node : unordered) {
        std::vector<int>& children = nodes_[node].children;
        std::stable_sort(children.begin(), children.end(), byKey);
        for (std::size_t at = 0; at < children.size(); ++at)
            nodes_[static_cast<std::size_t>(children[at])].rowInParent = static_cast<int>(at);
    }
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& index : before)
        after.append(indexOfNode(nodeOf(index), index.column()));
    changePersistentIndexList(before, after);
    emit layoutChanged();
}

bool EntryTreeModel::updateRows(const std::vector<EntryRow>& rows) {
    // Past this many, one reset costs less than the notices.
    constexpr std::size_t MostChanged = 256;
    std::vector<const EntryRow*> files;
    files.reserve(rows.size());
    std::vector<const EntryRow*> folderRows;
    for (const EntryRow& row : rows)
        (row.folder ? folderRows : files).push_back(&row);
    // The files that differ lie between those that stayed at either end.
    const std::size_t had = shownFiles_.size();
    const std::size_t has = files.size();
    std::size_t first = 0;
    while (first < had && first < has && shownFiles_[first].name == files[first]->name)
        ++first;
    std::size_t last = 0;
    while (last < had - first && last < has - first &&
           shownFiles_[had - 1 - last].name == files[has - 1 - last]->name)
        ++last;
    const std::size_t gone = had - first - last;
    const std::size_t come = has - first - last;
    if (gone + come > MostChanged)
        return false;

    std::vector<EntryRow> before = std::move(shownFiles_);
    shownFiles_.clear();
    shownFiles_.reserve(has);
    std::vector<int> changed;
    std::vector<int> emptied;
    const std::vector<int> kept(entryNodes_.begin() + static_cast<std::ptrdiff_t>(first + gone),
                                entryNodes_.end());
    // A file renamed within its folder keeps its row; any other leaves its
    // row and comes at its new place.
    std::vector<bool> inPlace(come, false);
    for (std::size_t i = 0; i < gone; ++i) {
        const int node = entryNodes_[first + i];
        const QByteArray& path = nodes_[static_cast<std::size_t>(node)].path;
        if (gone == come && folderPart(path) == folderPart(storedPath(files[first + i]->name))) {
            inPlace[i] = true;
            continue;
        }
        emptied.push_back(nodes_[static_cast<std::size_t>(node)].parent);
        removeNode(node);
    }
    const std::vector<int> middle(entryNodes_.begin() + static_cast<std::ptrdiff_t>(first),
                                  entryNodes_.begin() + static_cast<std::ptrdiff_t>(first + gone));
    entryNodes_.resize(first);
    for (std::size_t i = 0; i < first; ++i) {
        if (!sameCells(before[i], *files[i])) {
            setCells(nodes_[static_cast<std::size_t>(entryNodes_[i])], *files[i]);
            changed.push_back(entryNodes_[i]);
        }
        shownFiles_.push_back(*files[i]);
    }
    for (std::size_t i = 0; i < come; ++i) {
        const EntryRow& row = *files[first + i];
        if (!inPlace[i]) {
            addEntry(row, true);
            continue;
        }
        const int node = middle[i];
        Node& file = nodes_[static_cast<std::size_t>(node)];
        file.path = storedPath(row.name);
        file.cells[NameColumn] = shownNameOf(file.path);
        file.entry = static_cast<int>(entryNodes_.size());
        setCells(file, row);
        entryNodes_.push_back(node);
        shownFiles_.push_back(row);
        changed.push_back(node);
    }
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const EntryRow& row = *files[first + come + i];
        Node& file = nodes_[static_cast<std::size_t>(kept[i])];
        const int entry = static_cast<int>(entryNodes_.size());
        if (file.entry != entry || !sameCells(before[first + gone + i], row)) {
            file.entry = entry;
            setCells(file, row);
            changed.push_back(kept[i]);
        }
        entryNodes_.push_back(kept[i]);
        shownFiles_.push_back(row);
    }

    // The folders' own rows: new ones made, their times kept up to date.
    const QHash<QByteArray, int> hadFolders = std::exchange(shownFolders_, {});
    shownFolderRows_.clear();
    for (const EntryRow* row : folderRows) {
        const QByteArray path = storedPath(row->name);
        const bool existed = folders_.contains(path);
        const int node = folderNode(path, true);
        const QString modified =
            QString::fromUtf8(row->modified.data(), static_cast<qsizetype>(row->modified.size()));
        Node& folder = nodes_[static_cast<std::size_t>(node)];
        if (folder.cells[ModifiedColumn] != modified) {
            folder.cells[ModifiedColumn] = modified;
            if (existed)
                changed.push_back(node);
        }
        if (!shownFolders_.contains(path)) {
            shownFolders_.insert(path, static_cast<int>(shownFolderRows_.size()));
            shownFolderRows_.push_back(*row);
        }
    }
    for (auto at = hadFolders.constBegin(); at != hadFolders.constEnd(); ++at)
        if (!shownFolders_.contains(at.key()))
            if (const auto node = folders_.constFind(at.key()); node != folders_.constEnd())
                emptied.push_back(*node);
    for (const int folder : emptied)
        removeEmptyFolders(folder, shownFolders_);
    restoreOrder();
    announceChanged(changed);
    return true;
}

} // namespace quorvane
