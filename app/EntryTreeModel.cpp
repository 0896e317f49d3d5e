#include "app/EntryTreeModel.h"

#include "app/WindowLayout.h"
#include "entries/NameText.h"

namespace quorvane {

namespace {

// Stored names are bytes; a name that is not valid UTF-8 still shows, with
// replacement characters where the bytes make no sense.
QString shown(const std::string& bytes) {
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// A stored name from a safe made anywhere may hold a line break or a mark
// that turns the text around: shown escaped, never acted on. Only the text
// shown is escaped; the row keeps the stored bytes for the operations.
QString shownName(const QByteArray& stored) {
    return shown(withActingCharactersEscaped(stored.toStdString()));
}

QByteArray storedBytes(const std::string& bytes) {
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// Numbers and sizes sort as numbers: "10" after "9", "2 Bytes" before "10 Bytes".
qlonglong numberIn(const QString& text) {
    return text.section(QLatin1Char(' '), 0, 0).toLongLong();
}

// A "/" byte is never part of a longer UTF-8 sequence: paths split on bytes.
QByteArray lastPart(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? path : path.mid(slash + 1);
}

QByteArray folderOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray() : path.left(slash);
}

} // namespace

EntryTreeModel::EntryTreeModel(QObject* parent) : QAbstractItemModel(parent) {
    nodes_.emplace_back();
}

int EntryTreeModel::addNode(int parent, Node node, bool announce) {
    const int made = static_cast<int>(nodes_.size());
    node.parent = parent;
    node.rowInParent = static_cast<int>(nodes_[static_cast<std::size_t>(parent)].children.size());
    if (announce)
        beginInsertRows(indexOfNode(parent, 0), node.rowInParent, node.rowInParent);
    nodes_.push_back(std::move(node));
    nodes_[static_cast<std::size_t>(parent)].children.push_back(made);
    if (announce)
        endInsertRows();
    return made;
}

int EntryTreeModel::folderNode(const QByteArray& path, bool announce) {
    if (path.isEmpty())
        return Root;
    if (const auto found = folders_.constFind(path); found != folders_.constEnd())
        return *found;
    const int parent = folderNode(folderOf(path), announce);
    Node folder;
    folder.path = path;
    folder.cells[NameColumn] = shownName(lastPart(path));
    const int made = addNode(parent, std::move(folder), announce);
    folders_.insert(path, made);
    return made;
}

QString EntryTreeModel::shownNameOf(const QByteArray& path) {
    return shownName(lastPart(path));
}

// A file's cells; its path and name stay as they are.
void EntryTreeModel::setCells(Node& node, const EntryRow& row) {
    node.cells[0] = shown(row.number);
    node.cells[SizeColumn] = shown(row.size);
    node.cells[ModifiedColumn] = shown(row.modified);
    node.keys[0] = numberIn(node.cells[0]);
    node.keys[SizeColumn] = numberIn(node.cells[SizeColumn]);
}

void EntryTreeModel::addEntry(const EntryRow& row, bool announce) {
    const QByteArray path = storedBytes(row.name);
    if (row.folder) {
        const int folder = folderNode(path, announce);
        nodes_[static_cast<std::size_t>(folder)].cells[ModifiedColumn] = shown(row.modified);
        if (!shownFolders_.contains(path)) {
            shownFolders_.insert(path, static_cast<int>(shownFolderRows_.size()));
            shownFolderRows_.push_back(row);
        }
        return;
    }
    Node file;
    file.entry = static_cast<int>(entryNodes_.size());
    file.path = path;
    file.cells[NameColumn] = shownName(lastPart(path));
    setCells(file, row);
    const int parent = folderNode(folderOf(path), announce);
    entryNodes_.push_back(addNode(parent, std::move(file), announce));
    shownFiles_.push_back(row);
}

void EntryTreeModel::setRows(const std::vector<EntryRow>& rows) {
    beginResetModel();
    nodes_.assign(1, Node{});
    entryNodes_.clear();
    entryNodes_.reserve(rows.size());
    folders_.clear();
    shownFiles_.clear();
    shownFiles_.reserve(rows.size());
    shownFolders_.clear();
    shownFolderRows_.clear();
    for (const EntryRow& row : rows)
        addEntry(row, false);
    endResetModel();
}

void EntryTreeModel::appendRow(const EntryRow& row) {
    addEntry(row, true);
}

QModelIndex EntryTreeModel::indexOfNode(int node, int column) const {
    if (node <= Root)
        return {};
    return createIndex(nodes_[static_cast<std::size_t>(node)].rowInParent, column,
                       static_cast<quintptr>(node));
}

int EntryTreeModel::nodeOf(const QModelIndex& index) const {
    return index.isValid() ? static_cast<int>(index.internalId()) : Root;
}

QModelIndex EntryTreeModel::indexOfEntry(int entry, int column) const {
    if (entry < 0 || entry >= entryCount())
        return {};
    return indexOfNode(entryNodes_[static_cast<std::size_t>(entry)], column);
}

const QString& EntryTreeModel::textOf(int entry, int column) const {
    return nodes_[static_cast<std::size_t>(entryNodes_[static_cast<std::size_t>(entry)])]
        .cells[static_cast<std::size_t>(column)];
}

int EntryTreeModel::depthOf(int entry) const {
    int depth = 0;
    for (int node =
             nodes_[static_cast<std::size_t>(entryNodes_[static_cast<std::size_t>(entry)])].parent;
         node > Root; node = nodes_[static_cast<std::size_t>(node)].parent)
        ++depth;
    return depth;
}

const QString& EntryTreeModel::nameAt(const QModelIndex& index) const {
    return nodes_[static_cast<std::size_t>(nodeOf(index))].cells[NameColumn];
}

QModelIndex EntryTreeModel::indexOfFolder(const std::string& path) const {
    const auto found = folders_.constFind(storedBytes(path));
    return found == folders_.constEnd() ? QModelIndex() : indexOfNode(*found, 0);
}

QModelIndex EntryTreeModel::index(int row, int column, const QModelIndex& parent) const {
    const Node& above = nodes_[static_cast<std::size_t>(nodeOf(parent))];
    if (row < 0 || column < 0 || column >= columnCount() ||
        row >= static_cast<int>(above.children.size()))
        return {};
    return indexOfNode(above.children[static_cast<std::size_t>(row)], column);
}

QModelIndex EntryTreeModel::parent(const QModelIndex& child) const {
    if (!child.isValid())
        return {};
    return indexOfNode(nodes_[static_cast<std::size_t>(nodeOf(child))].parent, 0);
}

int EntryTreeModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() && parent.column() != 0)
        return 0;
    return static_cast<int>(nodes_[static_cast<std::size_t>(nodeOf(parent))].children.size());
}

int EntryTreeModel::columnCount(const QModelIndex& /*parent*/) const {
    return static_cast<int>(layout::EntryListColumns.size());
}

bool EntryTreeModel::hasChildren(const QModelIndex& parent) const {
    return rowCount(parent) > 0;
}

QVariant EntryTreeModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.column() >= columnCount())
        return {};
    const Node& node = nodes_[static_cast<std::size_t>(nodeOf(index))];
    const auto column = static_cast<std::size_t>(index.column());
    switch (role) {
    case Qt::DisplayRole:
        return node.cells[column];
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    case EntryRole:
        return node.entry;
    case SortKeyRole:
        return node.keys[column];
    case FolderRole:
        return node.entry == -1;
    case PathRole:
        return node.path;
    default:
        return {};
    }
}

QVariant EntryTreeModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= columnCount())
        return {};
    return QString::fromUtf8(layout::EntryListColumns[static_cast<std::size_t>(section)].header);
}

// Nothing in the list is edited in place.
Qt::ItemFlags EntryTreeModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
    if (nodes_[static_cast<std::size_t>(nodeOf(index))].entry != -1)
        flags |= Qt::ItemNeverHasChildren;
    return flags;
}

} // namespace quorvane
