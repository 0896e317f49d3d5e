#include "storage/format/Container.h"

#include "storage/workingcopy/BackgroundStreams.h"
#include "storage/files/ErasePattern.h"
#include "storage/workingcopy/WorkingCopyFile.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <optional>
#include <system_error>
#include <vector>

namespace quorvane {

namespace {

constexpr std::uint64_t ContainerHeaderEnd = ContainerHeaderSize;
// The bytes after the index table that a shortened working copy keeps.
constexpr std::uint64_t ShortenedSlack = 100;
// How much of the bytes from the index offset to the end of the file an append
// keeps so that it can put them back: the index table and the few bytes behind it.
constexpr std::uint64_t AppendBackupAllowance = 4 * StreamBlockSize;

// A copy buffer no larger than the bytes to copy: most entries are small.
std::vector<char> copyBuffer(std::uint64_t length) {
    return std::vector<char>(
        static_cast<std::size_t>(std::min<std::uint64_t>(length, StreamBlockSize)));
}

void putU32(char* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<char>((value >> (8 * i)) & 0xFFu);
}

void putU64(char* at, std::uint64_t value) {
    for (int i = 0; i < 8; ++i)
        at[i] = static_cast<char>((value >> (8 * i)) & 0xFFu);
}

std::uint32_t getU32(const char* at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(at[i]);
    return value;
}

std::uint64_t getU64(const char* at) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(at[i]);
    return value;
}

// The file's length, measured at its end (not from the header).
std::optional<std::uint64_t> streamLength(std::iostream& file) {
    file.clear();
    file.seekg(0, std::ios::end);
    const std::streamoff end = file.tellg();
    if (end < 0) {
        file.clear();
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(end);
}

bool readAt(std::iostream& file, std::uint64_t position, char* bytes, std::size_t count) {
    file.clear();
    file.seekg(static_cast<std::streamoff>(position));
    file.read(bytes, static_cast<std::streamsize>(count));
    const bool complete = file && static_cast<std::size_t>(file.gcount()) == count;
    file.clear();
    return complete;
}

// readAt for loading, where a failed read of the system (the stream's bad
// bit) must stay apart from bytes that are missing or make no container: the
// first is no reason to call the container damaged, the second is. The
// stream's exception carries the system's reason, which its bad bit alone
// would lose.
bool loadAt(std::iostream& file, std::uint64_t position, char* bytes, std::size_t count,
            IndexReadReport& report) {
    const std::ios::iostate wanted = file.exceptions();
    file.exceptions(std::ios::badbit);
    bool complete = false;
    try {
        complete = readAt(file, position, bytes, count);
    } catch (const std::ios_base::failure& failure) {
        const std::error_code code = failure.code();
        report.readFailed = true;
        report.readError =
            code.category() == std::system_category() || code.category() == std::generic_category()
                ? code.message()
                : failure.what();
    }
    file.clear();
    file.exceptions(wanted);
    return complete;
}

bool writeAt(std::iostream& file, std::uint64_t position, const char* bytes, std::size_t count) {
    file.seekp(static_cast<std::streamoff>(position));
    file.write(bytes, static_cast<std::streamsize>(count));
    return static_cast<bool>(file);
}

// Writes rows as an index table at position, through a bounded buffer.
bool writeIndexTable(std::iostream& file, std::uint64_t position,
                     const std::vector<IndexRow>& rows) {
    file.seekp(static_cast<std::streamoff>(position));
    std::vector<char> buffer;
    buffer.reserve(std::min<std::size_t>(rows.size() * IndexRowSize, StreamBlockSize));
    for (const IndexRow& row : rows) {
        char bytes[IndexRowSize];
        putU32(bytes, row.entryNumber);
        putU32(bytes + 4, row.entryOffset);
        buffer.insert(buffer.end(), bytes, bytes + IndexRowSize);
        if (buffer.size() >= StreamBlockSize) {
            file.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            buffer.clear();
        }
    }
    file.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    return static_cast<bool>(file);
}

bool writeHeader(std::iostream& file, std::uint32_t entryCount, std::uint32_t version,
                 std::uint32_t indexOffset) {
    char header[ContainerHeaderSize];
    putU32(header, entryCount);
    putU32(header + 4, version);
    putU32(header + 8, indexOffset);
    return writeAt(file, 0, header, sizeof header);
}

enum class CopyOutcome { Copied, ReadShort, WriteFailed };

// Copies length bytes from `source` to `out`, reporting each block. A source
// that gives fewer bytes than asked for is a failure, never padded.
CopyOutcome copyBlocks(std::istream& source, std::ostream& out, std::uint64_t length,
                       const ProgressCallback& progress) {
    // The source is read by a thread of its own while the block before is
    // written: one side of the copy passes through the working copy's cipher.
    ReadAheadStream from(source, length);
    std::vector<char> buffer = copyBuffer(length);
    std::uint64_t done = 0;
    reportProgress(progress, 0, length);
    while (done < length) {
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(length - done, buffer.size()));
        from.read(buffer.data(), static_cast<std::streamsize>(want));
        if (static_cast<std::size_t>(from.gcount()) != want)
            return CopyOutcome::ReadShort;
        out.write(buffer.data(), static_cast<std::streamsize>(want));
        if (!out)
            return CopyOutcome::WriteFailed;
        done += want;
        reportProgress(progress, done, length);
    }
    return CopyOutcome::Copied;
}

// A copy that cannot start its thread or get its blocks fails like a write,
// so that the caller puts the working copy back as it was.
CopyOutcome copyBytes(std::istream& source, std::ostream& out, std::uint64_t length,
                      const ProgressCallback& progress) {
    try {
        return copyBlocks(source, out, length, progress);
    } catch (const std::exception&) {
        return CopyOutcome::WriteFailed;
    }
}

// Moves [source, end) down to destination; the two ranges may overlap, the
// destination lies below the source, so a front-to-back copy is safe.
bool moveBytesDown(std::iostream& file, std::uint64_t source, std::uint64_t destination,
                   std::uint64_t end, const ProgressCallback& progress, bool& wroteAny) {
    const std::uint64_t total = end - source;
    std::vector<char> buffer = copyBuffer(total);
    reportProgress(progress, 0, total);
    while (source < end) {
        const auto piece =
            static_cast<std::size_t>(std::min<std::uint64_t>(end - source, buffer.size()));
        if (!readAt(file, source, buffer.data(), piece))
            return false;
        wroteAny = true;
        if (!writeAt(file, destination, buffer.data(), piece))
            return false;
        source += piece;
        destination += piece;
        reportProgress(progress, total - (end - source), total);
    }
    return true;
}

std::string nameFromField(const char* field) {
    const auto* terminator = static_cast<const char*>(std::memchr(field, 0, EntryNameSize));
    const std::size_t length =
        terminator == nullptr ? EntryNameSize : static_cast<std::size_t>(terminator - field);
    return std::string(field, length);
}

// Reads rows from the index table until the first one that does not describe
// a record lying, in file order, between the header and the index table.
// Records written by this program never overlap and always precede the table;
// a row that breaks this would make a later remove or append read or write
// the wrong bytes, so it and every row after it are left out.
bool loadRows(std::iostream& file, ContainerIndex& index, std::uint64_t rowsInTable,
              IndexReadReport& report) {
    const std::uint64_t tableStart = index.indexOffset;
    const std::uint64_t recordSpace = tableStart - ContainerHeaderEnd;
    index.indexRows.reserve(
        static_cast<std::size_t>(std::min(rowsInTable, recordSpace / EntryHeaderSize)));
    std::vector<char> table;
    std::uint64_t previousEnd = ContainerHeaderEnd;
    for (std::uint64_t first = 0; first < rowsInTable;) {
        const std::uint64_t chunkRows =
            std::min<std::uint64_t>(rowsInTable - first, StreamBlockSize / IndexRowSize);
        table.resize(static_cast<std::size_t>(chunkRows * IndexRowSize));
        if (!loadAt(file, tableStart + first * IndexRowSize, table.data(), table.size(), report))
            return false;
        for (std::uint64_t i = 0; i < chunkRows; ++i) {
            const char* row = table.data() + i * IndexRowSize;
            const std::uint64_t offset = getU32(row + 4);
            if (offset < previousEnd || offset > tableStart ||
                tableStart - offset < EntryHeaderSize)
                return false;
            char record[EntryHeaderSize];
            if (!loadAt(file, offset, record, sizeof record, report))
                return false;
            const std::uint64_t size = getU64(record + EntryNameSize);
            if (size > tableStart - offset - EntryHeaderSize)
                return false;
            index.indexRows.push_back({getU32(row), static_cast<std::uint32_t>(offset)});
            index.entryDetails.push_back(
                {static_cast<std::uint32_t>(size & 0xFFFFFFFFu), nameFromField(record)});
            previousEnd = offset + EntryHeaderSize + size;
        }
        first += chunkRows;
    }
    return true;
}

} // namespace

bool writeEmptyContainer(std::ostream& out) {
    // An empty container: no entries, version 2, and its (empty) index table
    // right after the header. The four bytes 307 behind it are what every
    // empty container has always carried; nothing reads them.
    char bytes[ContainerHeaderSize + 4];
    putU32(bytes, 0);
    putU32(bytes + 4, ContainerVersion);
    putU32(bytes + 8, static_cast<std::uint32_t>(ContainerHeaderSize));
    putU32(bytes + 12, 307);
    out.write(bytes, sizeof bytes);
    return static_cast<bool>(out);
}

int createContainer(const std::filesystem::path& path) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file.is_open())
        return 1;
    writeEmptyContainer(file);
    file.close();
    return file.fail() ? 1 : 0;
}

IndexReadReport readContainerIndex(std::iostream& workingCopy, ContainerIndex& index) {
    IndexReadReport report;
    ContainerIndex loaded;
    const std::optional<std::uint64_t> length = streamLength(workingCopy);
    loaded.workingCopyLength = length.value_or(0);

    // A file shorter than the header reads as zeros where it has no bytes.
    char header[ContainerHeaderSize] = {};
    const auto headerBytes =
        static_cast<std::size_t>(std::min<std::uint64_t>(loaded.workingCopyLength, sizeof header));
    const bool headerRead = headerBytes > 0 && loadAt(workingCopy, 0, header, headerBytes, report);
    const bool headerComplete = headerRead && headerBytes == sizeof header;
    loaded.entryCount = getU32(header);
    loaded.formatVersion = getU32(header + 4);
    loaded.indexOffset = getU32(header + 8);
    report.versionMismatch = loaded.formatVersion != ContainerVersion;

    const std::uint64_t tableStart = loaded.indexOffset;
    const bool tableInside = headerComplete && tableStart >= ContainerHeaderEnd &&
                             tableStart <= loaded.workingCopyLength;
    if (!tableInside) {
        report.damaged = !report.readFailed;
    } else {
        // Never trust the count further than the file has room for rows.
        const std::uint64_t room = (loaded.workingCopyLength - tableStart) / IndexRowSize;
        const std::uint64_t rowsInTable = std::min<std::uint64_t>(loaded.entryCount, room);
        const bool allRead = loadRows(workingCopy, loaded, rowsInTable, report);
        report.damaged = !allRead || rowsInTable < loaded.entryCount;
    }
    if (report.readFailed) {
        report.damaged = false; // nothing is known about bytes that could not be read
    }
    // After a damaged load the count follows the rows actually loaded, so that
    // an append or remove writes an index that agrees with its header.
    loaded.entryCount = static_cast<std::uint32_t>(loaded.indexRows.size());
    workingCopy.clear();
    index = std::move(loaded);
    return report;
}

namespace {

// The working copy of an open safe is a WorkingCopyFile (encrypted on disk);
// the tools and tests also hand plain file streams. Dropping failed writes,
// cutting and syncing go to whichever it is.
//
// A write that failed (disk full, file size limit) leaves its bytes pending in
// the stream's buffer, and every later seek or flush tries them again, over
// whatever is put back. They are dropped; a file stream is opened again the way
// an open safe holds it.
void reopenWorkingCopy(std::iostream& file, const std::filesystem::path& path) {
    file.clear();
    if (auto* encrypted = dynamic_cast<WorkingCopyFile*>(&file)) {
        encrypted->dropPending();
        return;
    }
    if (auto* plain = dynamic_cast<std::fstream*>(&file)) {
        plain->close();
        plain->clear();
        plain->open(path, std::ios::in | std::ios::out | std::ios::binary);
    }
}

bool resizeWorkingCopy(std::iostream& file, const std::filesystem::path& path,
                       std::uint64_t length) {
    if (auto* encrypted = dynamic_cast<WorkingCopyFile*>(&file))
        return encrypted->resize(length);
    std::error_code error;
    std::filesystem::resize_file(path, length, error);
    return !error;
}

void syncWorkingCopy(std::iostream& file, const std::filesystem::path& path) {
    if (auto* encrypted = dynamic_cast<WorkingCopyFile*>(&file))
        encrypted->syncToDisk();
    else
        syncFileToDisk(path);
}

// What an append needs to give the container back as it was.
struct AppendBackup {
    std::uint64_t length = 0;
    std::vector<char> header;
    std::vector<char> tail; // from the index offset on, bounded
};

std::optional<AppendBackup> takeAppendBackup(std::iostream& file, const ContainerIndex& index) {
    AppendBackup backup;
    const std::optional<std::uint64_t> length = streamLength(file);
    if (!length)
        return std::nullopt;
    backup.length = *length;
    backup.header.resize(
        static_cast<std::size_t>(std::min<std::uint64_t>(backup.length, ContainerHeaderSize)));
    if (!readAt(file, 0, backup.header.data(), backup.header.size()))
        return std::nullopt;
    if (backup.length > index.indexOffset) {
        const std::uint64_t allowance =
            AppendBackupAllowance + index.indexRows.size() * std::uint64_t{IndexRowSize};
        backup.tail.resize(
            static_cast<std::size_t>(std::min(backup.length - index.indexOffset, allowance)));
        if (!readAt(file, index.indexOffset, backup.tail.data(), backup.tail.size()))
            return std::nullopt;
    }
    return backup;
}

// Puts back the old index table and header and cuts the file to its old
// length. Without the path the stray bytes past the old end cannot be cut and
// are overwritten with the erase pattern instead.
void restoreAfterFailedAppend(std::iostream& file, const ContainerIndex& index,
                              const AppendBackup& backup,
                              const std::filesystem::path& workingCopyPath) {
    if (!workingCopyPath.empty())
        reopenWorkingCopy(file, workingCopyPath);
    file.clear();
    writeAt(file, index.indexOffset, backup.tail.data(), backup.tail.size());
    writeAt(file, 0, backup.header.data(), backup.header.size());
    file.flush();
    file.clear();
    const std::uint64_t grownTo = streamLength(file).value_or(backup.length);
    if (grownTo > backup.length) {
        const bool cut =
            !workingCopyPath.empty() && resizeWorkingCopy(file, workingCopyPath, backup.length);
        if (!cut) {
            file.seekp(static_cast<std::streamoff>(backup.length));
            writeErasePattern(file, grownTo - backup.length);
            file.flush();
        }
    }
    file.clear();
}

bool writeRecordHead(std::iostream& file, std::uint32_t offset, const std::string& storedName,
                     std::uint64_t size) {
    const EntryName name = makeEntryName(storedName);
    char head[EntryHeaderSize];
    std::memcpy(head, name.data(), EntryNameSize);
    putU64(head + EntryNameSize, size);
    return writeAt(file, offset, head, sizeof head);
}

} // namespace

AppendResult appendEntry(std::iostream& workingCopy, const ContainerIndex& index,
                         const std::string& sourcePath, const std::string& storedName,
                         std::uint64_t size, const ProgressCallback& progress,
                         const std::filesystem::path& workingCopyPath) {
    const std::uint64_t rows = index.indexRows.size();
    if (size > ContainerLimit)
        return AppendResult::TooLarge;
    const std::uint64_t newIndexOffset = std::uint64_t{index.indexOffset} + EntryHeaderSize + size;
    if (newIndexOffset + (rows + 1) * IndexRowSize > ContainerLimit)
        return AppendResult::TooLarge;
    // A table offset inside the header would put the record over the header.
    if (index.indexOffset < ContainerHeaderSize)
        return AppendResult::WriteFailed;

    std::ifstream source(sourcePath, std::ios::binary);
    if (!source.is_open())
        return AppendResult::SourceUnreadable;
    const std::optional<AppendBackup> backup = takeAppendBackup(workingCopy, index);
    if (!backup)
        return AppendResult::WriteFailed;
    // A damaged header can put the table far past the end; writing there would
    // blow the file up to gigabytes of zeros for one small entry.
    if (index.indexOffset > backup->length)
        return AppendResult::WriteFailed;

    AppendResult result = AppendResult::Appended;
    if (!writeRecordHead(workingCopy, index.indexOffset, storedName, size)) {
        result = AppendResult::WriteFailed;
    } else {
        const CopyOutcome copied = copyBytes(source, workingCopy, size, progress);
        if (copied == CopyOutcome::ReadShort)
            result = AppendResult::SourceUnreadable;
        else if (copied == CopyOutcome::WriteFailed)
            result = AppendResult::WriteFailed;
    }
    if (result == AppendResult::Appended) {
        std::vector<IndexRow> table = index.indexRows;
        table.push_back({static_cast<std::uint32_t>(rows), index.indexOffset});
        const auto offset32 = static_cast<std::uint32_t>(newIndexOffset);
        char offsetBytes[4];
        char countBytes[4];
        putU32(offsetBytes, offset32);
        putU32(countBytes, static_cast<std::uint32_t>(rows + 1));
        // The header last: until the count changes, the old container stands.
        const bool written = writeIndexTable(workingCopy, newIndexOffset, table) &&
                             writeAt(workingCopy, 8, offsetBytes, sizeof offsetBytes) &&
                             writeAt(workingCopy, 0, countBytes, sizeof countBytes) &&
                             workingCopy.flush();
        if (!written)
            result = AppendResult::WriteFailed;
    }
    if (result != AppendResult::Appended)
        restoreAfterFailedAppend(workingCopy, index, *backup, workingCopyPath);
    workingCopy.clear();
    return result;
}

bool extractEntryContent(std::iostream& workingCopy, const ContainerIndex& index, std::size_t row,
                         std::ostream& out, const ProgressCallback& progress) {
    if (row >= index.indexRows.size() || row >= index.entryDetails.size())
        return false;
    workingCopy.clear();
    workingCopy.seekg(static_cast<std::streamoff>(std::uint64_t{index.indexRows[row].entryOffset} +
                                                  EntryHeaderSize));
    const bool copied =
        copyBytes(workingCopy, out, index.entryDetails[row].size, progress) == CopyOutcome::Copied;
    workingCopy.clear();
    return copied;
}

std::size_t keptNameLength(const std::string& name) {
    if (name.size() <= EntryNameSize)
        return name.size();
    const auto continues = [&](std::size_t at) {
        return (static_cast<unsigned char>(name[at]) & 0xC0) == 0x80;
    };
    // The byte after the cut continues a character: the cut goes back to the
    // character's first byte, which is at most three bytes back.
    std::size_t cut = EntryNameSize;
    while (cut > EntryNameSize - 3 && continues(cut))
        --cut;
    return continues(cut) ? EntryNameSize : cut;
}

EntryName makeEntryName(const std::string& name) {
    EntryName field{};
    std::memcpy(field.data(), name.data(), keptNameLength(name));
    return field;
}

bool renameEntry(std::iostream& workingCopy, const ContainerIndex& index, std::size_t row,
                 const EntryName& newName) {
    if (row >= index.indexRows.size())
        return false;
    workingCopy.clear();
    const bool written =
        writeAt(workingCopy, index.indexRows[row].entryOffset, newName.data(), newName.size()) &&
        workingCopy.flush();
    workingCopy.clear();
    return written;
}

namespace {

// Cuts the working copy to `length`. The bytes beyond it held the tail of the
// container before the move (stale plaintext), so they are overwritten with
// the erase pattern and synced before the file gives them up.
bool shortenWorkingCopy(std::iostream& file, const std::filesystem::path& path,
                        std::uint64_t length, std::uint64_t oldLength) {
    if (length >= oldLength)
        return true;
    // An encrypted working copy leaves only ciphertext under a key of this
    // session in the blocks it gives up: nothing there to erase.
    if (dynamic_cast<WorkingCopyFile*>(&file) != nullptr)
        return resizeWorkingCopy(file, path, length);
    file.seekp(static_cast<std::streamoff>(length));
    if (!writeErasePattern(file, oldLength - length) || !file.flush())
        return false;
    syncWorkingCopy(file, path);
    return resizeWorkingCopy(file, path, length);
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

RemoveResult removeEntry(std::iostream& workingCopy, ContainerIndex& index, std::size_t row,
                         const std::filesystem::path& workingCopyPath,
                         const ProgressCallback& progress) {
    if (row >= index.indexRows.size() || row >= index.entryDetails.size())
        return RemoveResult::Failed;
    const std::uint64_t offset = index.indexRows[row].entryOffset;
    const std::uint32_t size = index.entryDetails[row].size;
    const std::uint64_t end = index.workingCopyLength;
    const std::uint64_t destination = offset + EntryHeaderSize;
    const std::uint64_t source = destination + size;
    const std::optional<std::uint64_t> actualLength = streamLength(workingCopy);
    // The index must describe this file: nothing is moved from beyond its end,
    // and the new offsets must fit the format.
    if (!actualLength || end > *actualLength || source > end || end > ContainerLimit)
        return RemoveResult::Failed;
    for (std::size_t i = row + 1; i < index.indexRows.size(); ++i)
        if (index.indexRows[i].entryOffset < source)
            return RemoveResult::Failed;

    const std::uint64_t newIndexOffset = end - size;
    const std::vector<IndexRow> rows = rowsWithout(index, row, size);
    const std::uint64_t newEnd = newIndexOffset + rows.size() * IndexRowSize;
    if (newEnd > ContainerLimit)
        return RemoveResult::Failed;

    bool wroteAny = false;
    const bool moved = moveBytesDown(workingCopy, source, destination, end, progress, wroteAny);
    const bool rewritten =
        moved && writeIndexTable(workingCopy, newIndexOffset, rows) &&
        writeHeader(workingCopy, static_cast<std::uint32_t>(rows.size()), index.formatVersion,
                    static_cast<std::uint32_t>(newIndexOffset)) &&
        workingCopy.flush();
    if (!rewritten) {
        reopenWorkingCopy(workingCopy, workingCopyPath);
        // Until the first byte is moved nothing is written; after that the
        // old index no longer fits the records.
        return moved || wroteAny ? RemoveResult::Torn : RemoveResult::Failed;
    }
    // From here the container is whole; only its length is still to change.
    const bool shortened =
        shortenWorkingCopy(workingCopy, workingCopyPath, newEnd + ShortenedSlack, *actualLength);
    workingCopy.clear();
    if (!shortened)
        return RemoveResult::Failed;
    index.entryCount -= 1;
    return RemoveResult::Removed;
}

} // namespace quorvane
