// Appending and removing entries: the two operations that move the index
// table. Both keep the in-memory index in step with what they wrote, and
// overwrite with zeros what the new container no longer points to, so that
// nothing of a removed file or an old table reaches the next saved safe.

#include "storage/format/Container.h"
#include "storage/format/ContainerBytes.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

namespace quorvane {

using namespace container_bytes;

namespace {

// The bytes after the index table that a shortened container keeps.
constexpr std::uint64_t ShortenedSlack = 100;
// How much of the bytes from the index offset to the end of the file an append
// keeps so that it can put them back: the index table and the few bytes behind it.
constexpr std::uint64_t AppendBackupAllowance = 4 * StreamBlockSize;

// What an append needs to give the container back as it was: the header and
// the bytes behind the index table. The table itself is written again from
// the index in memory, which holds its rows as they were read; reading it back
// from the file at every append would make adding many files quadratic.
struct AppendBackup {
    std::uint64_t length = 0;
    std::vector<char> header;
    std::uint64_t tailAt = 0;
    std::vector<char> tail; // behind the table, bounded
};

std::optional<AppendBackup> takeAppendBackup(RandomAccessFile& file, const ContainerIndex& index) {
    AppendBackup backup;
    backup.length = file.length();
    backup.header.resize(
        static_cast<std::size_t>(std::min<std::uint64_t>(backup.length, ContainerHeaderSize)));
    if (!file.readAt(0, backup.header.data(), backup.header.size()))
        return std::nullopt;
    backup.tailAt = std::min<std::uint64_t>(
        backup.length, index.indexOffset + index.indexRows.size() * std::uint64_t{IndexRowSize});
    backup.tail.resize(
        static_cast<std::size_t>(std::min(backup.length - backup.tailAt, AppendBackupAllowance)));
    if (!file.readAt(backup.tailAt, backup.tail.data(), backup.tail.size()))
        return std::nullopt;
    return backup;
}

void restoreAfterFailedAppend(RandomAccessFile& file, const ContainerIndex& index,
                              const AppendBackup& backup) {
    writeIndexTable(file, index.indexOffset, index.indexRows);
    file.writeAt(backup.tailAt, backup.tail.data(), backup.tail.size());
    file.writeAt(0, backup.header.data(), backup.header.size());
    if (file.length() > backup.length)
        file.resize(backup.length);
}

bool writeRecordHead(RandomAccessFile& file, std::uint64_t offset, const EntryName& name,
                     std::uint64_t size) {
    char head[EntryHeaderSize];
    std::memcpy(head, name.data(), EntryNameSize);
    putU64(head + EntryNameSize, size);
    return file.writeAt(offset, head, sizeof head);
}

enum class CopyResult { Copied, ReadShort, WriteFailed };

// Copies size bytes from the start of source to `at`. A source that gives
// fewer bytes than asked for is a failure, never padded.
CopyResult copyFrom(RandomAccessFile& source, RandomAccessFile& file, std::uint64_t at,
                    std::uint64_t size, const ProgressCallback& progress) {
    std::vector<char> buffer = copyBuffer(size);
    reportProgress(progress, 0, size);
    for (std::uint64_t done = 0; done < size;) {
        const auto piece =
            static_cast<std::size_t>(std::min<std::uint64_t>(size - done, buffer.size()));
        if (!source.readAt(done, buffer.data(), piece))
            return CopyResult::ReadShort;
        if (!file.writeAt(at + done, buffer.data(), piece))
            return CopyResult::WriteFailed;
        done += piece;
        reportProgress(progress, done, size);
    }
    return CopyResult::Copied;
}

AppendResult writeAppended(RandomAccessFile& file, const ContainerIndex& index,
                           RandomAccessFile& source, const EntryName& name, std::uint64_t size,
                           std::uint64_t oldLength, const ProgressCallback& progress) {
    const std::uint64_t rows = index.indexRows.size();
    const std::uint64_t newIndexOffset = std::uint64_t{index.indexOffset} + EntryHeaderSize + size;
    if (!writeRecordHead(file, index.indexOffset, name, size))
        return AppendResult::WriteFailed;
    const CopyResult copied =
        copyFrom(source, file, index.indexOffset + EntryHeaderSize, size, progress);
    if (copied != CopyResult::Copied)
        return copied == CopyResult::ReadShort ? AppendResult::SourceUnreadable
                                               : AppendResult::WriteFailed;
    std::vector<IndexRow> table = index.indexRows;
    table.push_back({static_cast<std::uint32_t>(rows), index.indexOffset});
    const std::uint64_t newEnd = newIndexOffset + table.size() * IndexRowSize;
    char offsetBytes[4];
    char countBytes[4];
    putU32(offsetBytes, static_cast<std::uint32_t>(newIndexOffset));
    putU32(countBytes, static_cast<std::uint32_t>(rows + 1));
    // The header last: until the count changes, the old container stands.
    const bool written = writeIndexTable(file, newIndexOffset, table) &&
                         writeZeros(file, newEnd, oldLength) &&
                         file.writeAt(8, offsetBytes, sizeof offsetBytes) &&
                         file.writeAt(0, countBytes, sizeof countBytes);
    return written ? AppendResult::Appended : AppendResult::WriteFailed;
}

} // namespace

AppendResult appendEntry(RandomAccessFile& workingCopy, ContainerIndex& index,
                         RandomAccessFile& source, const std::string& storedName,
                         std::uint64_t size, const ProgressCallback& progress) {
    const std::uint64_t rows = index.indexRows.size();
    if (size > ContainerLimit)
        return AppendResult::TooLarge;
    const std::uint64_t newIndexOffset = std::uint64_t{index.indexOffset} + EntryHeaderSize + size;
    if (newIndexOffset + (rows + 1) * IndexRowSize > ContainerLimit)
        return AppendResult::TooLarge;
    // A table offset inside the header would put the record over the header.
    if (index.indexOffset < ContainerHeaderSize)
        return AppendResult::WriteFailed;
    const std::optional<AppendBackup> backup = takeAppendBackup(workingCopy, index);
    if (!backup)
        return AppendResult::WriteFailed;
    // A damaged header can put the table far past the end; writing there would
    // blow the file up to gigabytes of zeros for one small entry.
    if (index.indexOffset > backup->length)
        return AppendResult::WriteFailed;

    const EntryName name = makeEntryName(storedName);
    const AppendResult result =
        writeAppended(workingCopy, index, source, name, size, backup->length, progress);
    if (result != AppendResult::Appended) {
        restoreAfterFailedAppend(workingCopy, index, *backup);
        return result;
    }
    index.indexRows.push_back({static_cast<std::uint32_t>(rows), index.indexOffset});
    index.entryDetails.push_back(
        {static_cast<std::uint32_t>(size & 0xFFFFFFFFu), nameFromField(name.data())});
    index.indexOffset = static_cast<std::uint32_t>(newIndexOffset);
    index.entryCount = static_cast<std::uint32_t>(rows + 1);
    index.workingCopyLength = workingCopy.length();
    return AppendResult::Appended;
}

namespace {

// Moves [source, end) down to destination; the two ranges may overlap, the
// destination lies below the source, so a front-to-back copy is safe.
bool moveBytesDown(RandomAccessFile& file, std::uint64_t source, std::uint64_t destination,
                   std::uint64_t end, const ProgressCallback& progress, bool& wroteAny) {
    const std::uint64_t total = end - source;
    std::vector<char> buffer = copyBuffer(total);
    reportProgress(progress, 0, total);
    while (source < end) {
        const auto piece =
            static_cast<std::size_t>(std::min<std::uint64_t>(end - source, buffer.size()));
        if (!file.readAt(source, buffer.data(), piece))
            return false;
        wroteAny = true;
        if (!file.writeAt(destination, buffer.data(), piece))
            return false;
        source += piece;
        destination += piece;
        reportProgress(progress, total - (end - source), total);
    }
    return true;
}

std::vector<IndexRow> rowsWithout(const ContainerIndex& index, std::size_t removed,
                                  std::uint32_t size) {
    std::vector<IndexRow> rows;
    rows.reserve(index.indexRows.size() - 1);
    for (std::size_t i = 0; i < index.indexRows.size(); ++i) {
        if (i < removed)
            rows.push_back(index.indexRows[i]);
        else if (i > removed)
            rows.push_back(
                {index.indexRows[i].entryNumber - 1, index.indexRows[i].entryOffset - size});
    }
    return rows;
}

} // namespace

RemoveResult removeEntry(RandomAccessFile& workingCopy, ContainerIndex& index, std::size_t row,
                         const ProgressCallback& progress) {
    if (row >= index.indexRows.size() || row >= index.entryDetails.size())
        return RemoveResult::Failed;
    const std::uint64_t offset = index.indexRows[row].entryOffset;
    const std::uint32_t size = index.entryDetails[row].size;
    const std::uint64_t end = index.workingCopyLength;
    const std::uint64_t destination = offset + EntryHeaderSize;
    const std::uint64_t source = destination + size;
    const std::uint64_t actualLength = workingCopy.length();
    // The index must describe this file: nothing is moved from beyond its end,
    // and the new offsets must fit the format.
    if (end > actualLength || source > end || end > ContainerLimit || index.indexOffset < source)
        return RemoveResult::Failed;
    for (std::size_t i = row + 1; i < index.indexRows.size(); ++i)
        if (index.indexRows[i].entryOffset < source)
            return RemoveResult::Failed;

    const std::uint64_t newIndexOffset = end - size;
    std::vector<IndexRow> rows = rowsWithout(index, row, size);
    const std::uint64_t newEnd = newIndexOffset + rows.size() * IndexRowSize;
    if (newEnd > ContainerLimit)
        return RemoveResult::Failed;

    bool wroteAny = false;
    // The record's head stays where it was, and the old table lands below the
    // new one: neither is pointed to any more, so both become zeros.
    const bool rewritten =
        moveBytesDown(workingCopy, source, destination, end, progress, wroteAny) &&
        writeZeros(workingCopy, offset, destination) &&
        writeZeros(workingCopy, index.indexOffset - size, newIndexOffset) &&
        writeIndexTable(workingCopy, newIndexOffset, rows) &&
        writeHeader(workingCopy, static_cast<std::uint32_t>(rows.size()), index.formatVersion,
                    static_cast<std::uint32_t>(newIndexOffset));
    // Until the first byte is moved nothing is written; after that the old
    // index no longer fits the records.
    if (!rewritten)
        return wroteAny ? RemoveResult::Torn : RemoveResult::Failed;

    // From here the container is whole and holds the new entries.
    index.indexRows = std::move(rows);
    index.entryDetails.erase(index.entryDetails.begin() + static_cast<std::ptrdiff_t>(row));
    index.indexOffset = static_cast<std::uint32_t>(newIndexOffset);
    index.entryCount = static_cast<std::uint32_t>(index.indexRows.size());
    // The file keeps ShortenedSlack bytes behind the table, as it always has,
    // and is never grown for them.
    const std::uint64_t keptLength =
        std::max(newEnd, std::min(newEnd + ShortenedSlack, workingCopy.length()));
    bool shortened = writeZeros(workingCopy, newEnd, keptLength) &&
                     (keptLength == workingCopy.length() || workingCopy.resize(keptLength));
    // What could not be cut off is overwritten instead: it held the tail of
    // the container before the move.
    if (!shortened)
        writeZeros(workingCopy, keptLength, workingCopy.length());
    index.workingCopyLength = workingCopy.length();
    return shortened ? RemoveResult::Removed : RemoveResult::Failed;
}

} // namespace quorvane
