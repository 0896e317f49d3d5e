#include "storage/format/Container.h"

#include "storage/format/ContainerBytes.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace quorvane {

using namespace container_bytes;

namespace {

constexpr std::uint64_t ContainerHeaderEnd = ContainerHeaderSize;

// A read while loading, where a failed read of the system must stay apart
// from bytes that are missing or make no container: the first is no reason to
// call the container damaged, the second is.
bool loadAt(RandomAccessFile& file, std::uint64_t position, char* bytes, std::size_t count,
            IndexReadResult& report) {
    if (file.readAt(position, bytes, count))
        return true;
    if (file.lastError() != 0) {
        report.readFailed = true;
        report.readError = failureText(file.lastError());
    }
    return false;
}

// Reads rows from the index table until the first one that does not describe
// a record lying, in file order, between the header and the index table.
// Records written by this program never overlap and always precede the table;
// a row that breaks this would make a later remove or append read or write
// the wrong bytes, so it and every row after it are left out.
bool loadRows(RandomAccessFile& file, ContainerIndex& index, std::uint64_t rowsInTable,
              IndexReadResult& report) {
    const std::uint64_t tableStart = index.indexOffset;
    const std::uint64_t recordSpace = tableStart - ContainerHeaderEnd;
    const auto expected =
        static_cast<std::size_t>(std::min(rowsInTable, recordSpace / EntryHeaderSize));
    index.indexRows.reserve(expected);
    index.entryDetails.reserve(expected);
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

namespace container_bytes {

bool writeIndexTable(RandomAccessFile& file, std::uint64_t position,
                     const std::vector<IndexRow>& rows) {
    std::vector<char> buffer;
    buffer.reserve(std::min<std::size_t>(rows.size() * IndexRowSize, StreamBlockSize));
    for (const IndexRow& row : rows) {
        char bytes[IndexRowSize];
        putU32(bytes, row.entryNumber);
        putU32(bytes + 4, row.entryOffset);
        buffer.insert(buffer.end(), bytes, bytes + IndexRowSize);
        if (buffer.size() >= StreamBlockSize) {
            if (!file.writeAt(position, buffer.data(), buffer.size()))
                return false;
            position += buffer.size();
            buffer.clear();
        }
    }
    return file.writeAt(position, buffer.data(), buffer.size());
}

bool writeHeader(RandomAccessFile& file, std::uint32_t entryCount, std::uint32_t version,
                 std::uint32_t indexOffset) {
    char header[ContainerHeaderSize];
    putU32(header, entryCount);
    putU32(header + 4, version);
    putU32(header + 8, indexOffset);
    return file.writeAt(0, header, sizeof header);
}

bool writeZeros(RandomAccessFile& file, std::uint64_t from, std::uint64_t to) {
    if (to <= from)
        return true;
    const std::vector<char> zeros = copyBuffer(to - from);
    while (from < to) {
        const auto piece =
            static_cast<std::size_t>(std::min<std::uint64_t>(to - from, zeros.size()));
        if (!file.writeAt(from, zeros.data(), piece))
            return false;
        from += piece;
    }
    return true;
}

} // namespace container_bytes

std::string emptyContainerBytes() {
    // An empty container: no entries, version 2, and its (empty) index table
    // right after the header. The four bytes 307 behind it are what every
    // empty container has always carried; nothing reads them.
    char bytes[ContainerHeaderSize + 4];
    putU32(bytes, 0);
    putU32(bytes + 4, ContainerVersion);
    putU32(bytes + 8, static_cast<std::uint32_t>(ContainerHeaderSize));
    putU32(bytes + 12, 307);
    return std::string(bytes, sizeof bytes);
}

bool writeEmptyContainer(RandomAccessFile& file) {
    const std::string bytes = emptyContainerBytes();
    return file.resize(0) && file.writeAt(0, bytes.data(), bytes.size());
}

IndexReadResult readContainerIndex(RandomAccessFile& workingCopy, ContainerIndex& index) {
    IndexReadResult report;
    ContainerIndex loaded;
    loaded.workingCopyLength = workingCopy.length();

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
    index = std::move(loaded);
    return report;
}

std::int64_t readEntryContent(RandomAccessFile& workingCopy, const ContainerIndex& index,
                              std::size_t row, std::uint64_t offset, void* into,
                              std::size_t count) {
    if (row >= index.indexRows.size() || row >= index.entryDetails.size())
        return -1;
    const std::uint64_t size = index.entryDetails[row].size;
    if (offset >= size)
        return 0;
    const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(count, size - offset));
    const std::uint64_t at = std::uint64_t{index.indexRows[row].entryOffset} + EntryHeaderSize;
    return workingCopy.readAt(at + offset, into, take) ? static_cast<std::int64_t>(take) : -1;
}

bool extractEntryContent(RandomAccessFile& workingCopy, const ContainerIndex& index,
                         std::size_t row, std::ostream& out, const ProgressCallback& progress) {
    if (row >= index.indexRows.size() || row >= index.entryDetails.size())
        return false;
    const std::uint64_t size = index.entryDetails[row].size;
    std::vector<char> buffer = copyBuffer(size);
    std::uint64_t done = 0;
    reportProgress(progress, 0, size);
    while (done < size) {
        const std::int64_t got =
            readEntryContent(workingCopy, index, row, done, buffer.data(), buffer.size());
        if (got <= 0)
            return false;
        out.write(buffer.data(), static_cast<std::streamsize>(got));
        if (!out)
            return false;
        done += static_cast<std::uint64_t>(got);
        reportProgress(progress, done, size);
    }
    return true;
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

std::string fittedEntryName(const std::string& name) {
    if (name.size() <= EntryNameSize)
        return name;
    const std::size_t dot = name.rfind('.');
    const std::size_t extension = dot == std::string::npos ? 0 : name.size() - dot;
    // A name that is mostly extension, or has none, is cut at its end as before.
    if (dot == 0 || extension == 0 || extension > MostKeptExtension)
        return name.substr(0, keptNameLength(name));
    const std::string stem = name.substr(0, dot);
    // The stem is cut as a whole name would be, to the room the extension leaves.
    std::size_t cut = EntryNameSize - extension;
    const auto continues = [&](std::size_t at) {
        return (static_cast<unsigned char>(stem[at]) & 0xC0) == 0x80;
    };
    const std::size_t least = cut >= 3 ? cut - 3 : 0;
    while (cut > least && continues(cut))
        --cut;
    if (continues(cut))
        cut = EntryNameSize - extension;
    while (cut > 1 && stem[cut - 1] == ' ')
        --cut;
    return stem.substr(0, cut) + name.substr(dot);
}

EntryName makeEntryName(const std::string& name) {
    EntryName field{};
    std::memcpy(field.data(), name.data(), keptNameLength(name));
    return field;
}

bool renameEntry(RandomAccessFile& workingCopy, ContainerIndex& index, std::size_t row,
                 const EntryName& newName) {
    if (row >= index.indexRows.size() || row >= index.entryDetails.size())
        return false;
    if (!workingCopy.writeAt(index.indexRows[row].entryOffset, newName.data(), newName.size()))
        return false;
    index.entryDetails[row].name = nameFromField(newName.data());
    return true;
}

} // namespace quorvane
