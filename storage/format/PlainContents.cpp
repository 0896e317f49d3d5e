#include "storage/format/PlainContents.h"

#include <algorithm>
#include <cerrno>

namespace quorvane {

IndexReadResult PlainContents::list(ContainerIndex& index) {
    refused_ = 0;
    return readContainerIndex(file_, index);
}

std::int64_t PlainContents::read(const ContainerIndex& index, std::size_t row, std::uint64_t offset,
                                 void* into, std::size_t count) {
    refused_ = 0;
    return readEntryContent(file_, index, row, offset, into, count);
}

bool PlainContents::extract(const ContainerIndex& index, std::size_t row, std::ostream& out,
                            const ProgressCallback& progress) {
    refused_ = 0;
    return extractEntryContent(file_, index, row, out, progress);
}

std::uint64_t PlainContents::room(const ContainerIndex& index) const {
    // A new record takes its header and an index row beside its content.
    const std::uint64_t used = std::uint64_t{index.indexOffset} + EntryHeaderSize +
                               IndexRowSize * (std::uint64_t{index.entryCount} + 1);
    return used >= ContainerLimit ? 0 : ContainerLimit - used;
}

AppendResult PlainContents::add(ContainerIndex& index, RandomAccessFile& source,
                                const std::string& name, std::uint64_t size,
                                const ProgressCallback& progress) {
    refused_ = 0;
    return appendEntry(file_, index, source, name, size, progress);
}

RemoveResult PlainContents::remove(ContainerIndex& index, std::size_t row,
                                   const ProgressCallback& progress) {
    refused_ = 0;
    return quorvane::removeEntry(file_, index, row, progress);
}

bool PlainContents::rename(ContainerIndex& index, std::size_t row, const std::string& name) {
    refused_ = 0;
    return renameEntry(file_, index, row, makeEntryName(name));
}

bool PlainContents::refuse(int error) {
    refused_ = error;
    return false;
}

std::optional<std::size_t> PlainContents::rowOf(const ContainerIndex& index,
                                                const std::string& path) {
    refused_ = 0;
    const auto& rows = index.entryDetails;
    const auto at = std::find_if(rows.begin(), rows.end(),
                                 [&](const EntryDetail& detail) { return detail.name == path; });
    if (at == rows.end()) {
        refuse(ENOENT);
        return std::nullopt;
    }
    return static_cast<std::size_t>(at - rows.begin());
}

bool PlainContents::keepable(const std::string& name) {
    refused_ = 0;
    if (name.find('/') != std::string::npos)
        return refuse(EPERM); // a flat list has no folders
    if (name.size() > EntryNameSize)
        return refuse(ENAMETOOLONG);
    if (name.empty() || name.find('\0') != std::string::npos)
        return refuse(EINVAL);
    return true;
}

std::vector<ContentEntry> PlainContents::entries(const ContainerIndex& index) const {
    std::vector<ContentEntry> all;
    for (const EntryDetail& detail : index.entryDetails)
        all.push_back({detail.name, ContentKind::File, detail.size, EntryStamp{}});
    std::stable_sort(all.begin(), all.end(),
                     [](const ContentEntry& a, const ContentEntry& b) { return a.path < b.path; });
    // A path names the first row of that name; later rows of the same name
    // have no path of their own.
    all.erase(
        std::unique(all.begin(), all.end(),
                    [](const ContentEntry& a, const ContentEntry& b) { return a.path == b.path; }),
        all.end());
    return all;
}

std::optional<ContentEntry> PlainContents::entry(const ContainerIndex& index,
                                                 const std::string& path) const {
    for (const EntryDetail& detail : index.entryDetails)
        if (detail.name == path)
            return ContentEntry{detail.name, ContentKind::File, detail.size, EntryStamp{}};
    return std::nullopt;
}

std::int64_t PlainContents::readEntry(const ContainerIndex& index, const std::string& path,
                                      std::uint64_t offset, void* into, std::size_t count) {
    const auto row = rowOf(index, path);
    return row ? readEntryContent(file_, index, *row, offset, into, count) : -1;
}

bool PlainContents::extractEntry(const ContainerIndex& index, const std::string& path,
                                 std::ostream& out, const ProgressCallback& progress) {
    const auto row = rowOf(index, path);
    return row && extractEntryContent(file_, index, *row, out, progress);
}

AppendResult PlainContents::addEntry(ContainerIndex& index, RandomAccessFile& source,
                                     const std::string& path, std::uint64_t size, const EntryStamp&,
                                     OnExisting existing, const ProgressCallback& progress) {
    if (!keepable(path))
        return AppendResult::WriteFailed;
    const auto old = rowOf(index, path);
    refused_ = 0;
    if (old && existing == OnExisting::Refuse) {
        refuse(EEXIST);
        return AppendResult::WriteFailed;
    }
    // The new row is appended before the old one goes, so that a failure
    // leaves the old content in place.
    const AppendResult added = appendEntry(file_, index, source, path, size, progress);
    if (added == AppendResult::Appended && old &&
        quorvane::removeEntry(file_, index, *old) != RemoveResult::Removed)
        return AppendResult::WriteFailed;
    return added;
}

bool PlainContents::makeFolder(ContainerIndex&, const std::string&, const EntryStamp&) {
    return refuse(EPERM);
}

RemoveResult PlainContents::removeEntry(ContainerIndex& index, const std::string& path,
                                        FolderRemoval, const ProgressCallback& progress) {
    const auto row = rowOf(index, path);
    return row ? quorvane::removeEntry(file_, index, *row, progress) : RemoveResult::Failed;
}

bool PlainContents::moveEntry(ContainerIndex& index, const std::string& from, const std::string& to,
                              OnExisting existing) {
    const auto row = rowOf(index, from);
    if (!row)
        return false;
    if (from == to)
        return true;
    if (!keepable(to))
        return false;
    const auto taken = rowOf(index, to);
    refused_ = 0;
    if (taken && existing == OnExisting::Refuse)
        return refuse(EEXIST);
    if (!renameEntry(file_, index, *row, makeEntryName(to)))
        return false;
    return !taken || quorvane::removeEntry(file_, index, *taken) == RemoveResult::Removed;
}

bool PlainContents::setStamp(ContainerIndex& index, const std::string& path, const EntryStamp&) {
    return rowOf(index, path) ? refuse(EPERM) : false;
}

} // namespace quorvane
