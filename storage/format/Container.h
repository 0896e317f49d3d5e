#pragma once

// The plaintext container ("working copy") and the operations on it.
// Layout, little-endian:
//   0  u32 entry count    4  u32 version (2)    8  u32 index offset
//   12 entry records: 50-byte name, u64 size, content
//   index offset: one (u32 entry number, u32 entry offset) row per entry
//
// Every operation works on a RandomAccessFile and keeps the in-memory index
// in step with what it wrote, so that a change costs what it touches, never a
// reload of every record.

#include "storage/Progress.h"
#include "storage/format/ContainerIndex.h"
#include "storage/workingcopy/RandomAccessFile.h"

#include <array>
#include <ostream>
#include <string>

namespace quorvane {

// The 16 bytes of an empty container.
std::string emptyContainerBytes();
// Writes them as the whole of file.
bool writeEmptyContainer(RandomAccessFile& file);

struct IndexReadResult {
    bool versionMismatch = false; // version word is not 2; the rows were read all the same
    bool damaged = false;         // rows pointing outside the file were left out
    bool readFailed = false;      // the system failed to read the file: nothing said about damage
    std::string readError;        // the system's reason, with readFailed

    bool clean() const { return !versionMismatch && !damaged && !readFailed; }
};

// Reads the header, index rows, names and sizes of the open working copy into
// index. Never reads, allocates or loops beyond what the file's length allows:
// rows from the first one that points outside the file on are not loaded, so
// row i stays entry i. Reporting to the user is the caller's business.
IndexReadResult readContainerIndex(RandomAccessFile& workingCopy, ContainerIndex& index);

enum class AppendResult {
    Appended,
    TooLarge,         // the source is 4 GiB or more, or the container would pass 4 GiB - 1
    SourceUnreadable, // the source could not be opened or gave fewer bytes than size
    WriteFailed,      // the working copy could not be written
};

// Appends a record of size bytes read from source (from its start) at the
// index offset, then the index table with the new row, then the header
// (written last). On success the row and its details are added to index. On
// any failure the container is put back as it was: old index table, old
// header, old length. Bytes that the new container no longer points to are
// zeros.
AppendResult appendEntry(RandomAccessFile& workingCopy, ContainerIndex& index,
                         RandomAccessFile& source, const std::string& storedName,
                         std::uint64_t size, const ProgressCallback& progress = {});

// Writes the content of entry row (size from index.entryDetails) to out.
// Returns false when the working copy could not be read in full or out failed.
bool extractEntryContent(RandomAccessFile& workingCopy, const ContainerIndex& index,
                         std::size_t row, std::ostream& out, const ProgressCallback& progress = {});

// Reads up to count bytes of entry row's content from offset on; the number
// read (0 at or past its end), or -1 when the working copy could not be read.
std::int64_t readEntryContent(RandomAccessFile& workingCopy, const ContainerIndex& index,
                              std::size_t row, std::uint64_t offset, void* into, std::size_t count);

using EntryName = std::array<char, EntryNameSize>;

// How much of a name its 50-byte field keeps: all of it when it fits, else
// the first 50 bytes less a UTF-8 character that the 50th byte would cut in
// two. Bytes that are no UTF-8 around the cut are cut at 50.
std::size_t keptNameLength(const std::string& name);

// The name a new entry is given in the 50-byte field: all of it when it
// fits, else a shorter stem with the extension kept (the last "." and up to
// MostKeptExtension - 1 bytes after it), so that programs still open it by
// its type; a name without one is cut as keptNameLength says.
inline constexpr std::size_t MostKeptExtension = 16;
std::string fittedEntryName(const std::string& name);

// The 50-byte name field for a name: its first keptNameLength bytes, zero-padded.
EntryName makeEntryName(const std::string& name);

// Writes the 50 name bytes over entry row's name field
// and keeps the new name in index. Returns false on a write error.
bool renameEntry(RandomAccessFile& workingCopy, ContainerIndex& index, std::size_t row,
                 const EntryName& newName);

enum class RemoveResult {
    Removed,
    Failed, // nothing was written: the working copy is as it was
    Torn,   // a write failed while records were being moved: the container is no longer whole
};

// Removes entry row: later bytes move down by its size, the index is rewritten
// without it, the header follows, then the file is cut to new end + 100 bytes.
// The removed record's head, the moved-down old index table and the bytes
// behind the new table are overwritten with zeros. On success index describes
// the new container. The move happens in place, so a failure in its middle
// leaves records where the old index does not expect them: Torn, and the
// working copy must not be saved. A failure once the new header is written
// (cutting the file) is Failed: the container is whole and index holds the
// new entries.
RemoveResult removeEntry(RandomAccessFile& workingCopy, ContainerIndex& index, std::size_t row,
                         const ProgressCallback& progress = {});

} // namespace quorvane
