#pragma once

// The plaintext container ("working copy") and the operations on it.
// Layout, little-endian:
//   0  u32 entry count    4  u32 version (2)    8  u32 index offset
//   12 entry records: 50-byte name, u64 size, content
//   index offset: one (u32 entry number, u32 entry offset) row per entry

#include "storage/format/ContainerIndex.h"
#include "storage/Progress.h"

#include <array>
#include <filesystem>
#include <iostream>
#include <ostream>
#include <string>

namespace quorvane {

// Writes the 16 bytes of an empty container to out; false when out failed.
bool writeEmptyContainer(std::ostream& out);

// Writes the 16-byte empty container at path (creating or truncating it).
// Returns 0 when written, 1 when the file could not be created.
int createContainer(const std::filesystem::path& path);

struct IndexReadReport {
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
IndexReadReport readContainerIndex(std::iostream& workingCopy, ContainerIndex& index);

enum class AppendResult {
    Appended,
    TooLarge,         // the source is 4 GiB or more, or the container would pass 4 GiB - 1
    SourceUnreadable, // the source could not be opened or gave fewer bytes than size
    WriteFailed,      // the working copy could not be written
};

// Appends a record for the file at sourcePath at the index offset, then the
// index table with the new row, then the header (written last). On any failure
// the container is put back as it was: old index table, old header, and, given
// workingCopyPath, its old length (without it the bytes past the old end stay,
// overwritten with the erase pattern). The in-memory index is not changed; the
// caller reloads it.
AppendResult appendEntry(std::iostream& workingCopy, const ContainerIndex& index,
                         const std::string& sourcePath, const std::string& storedName,
                         std::uint64_t size, const ProgressCallback& progress = {},
                         const std::filesystem::path& workingCopyPath = {});

// Writes the content of entry row (size from index.entryDetails) to out.
// Returns false when the working copy could not be read in full or out failed.
bool extractEntryContent(std::iostream& workingCopy, const ContainerIndex& index, std::size_t row,
                         std::ostream& out, const ProgressCallback& progress = {});

using EntryName = std::array<char, EntryNameSize>;

// How much of a name its 50-byte field keeps: all of it when it fits, else
// the first 50 bytes less a UTF-8 character that the 50th byte would cut in
// two. Bytes that are no UTF-8 around the cut are cut at 50.
std::size_t keptNameLength(const std::string& name);

// The 50-byte name field for a name: its first keptNameLength bytes, zero-padded.
EntryName makeEntryName(const std::string& name);

// Writes the 50 name bytes over entry row's name field. Returns false on a write error.
bool renameEntry(std::iostream& workingCopy, const ContainerIndex& index, std::size_t row,
                 const EntryName& newName);

enum class RemoveResult {
    Removed,
    Failed, // nothing was written: the working copy is as it was
    Torn,   // a write failed while records were being moved: the container is no longer whole
};

// Removes entry row: later bytes move down by its size, the index is rewritten
// without it, the header follows, then the file is cut to new end + 100 bytes.
// Lowers index.entryCount by one on success. The stream stays open. The move
// happens in place, so a failure in its middle leaves records where the old
// index does not expect them: Torn, and the working copy must not be saved.
// A failure once the new header is written (cutting the file) is Failed: the
// container is whole and holds the new entries.
RemoveResult removeEntry(std::iostream& workingCopy, ContainerIndex& index, std::size_t row,
                         const std::filesystem::path& workingCopyPath,
                         const ProgressCallback& progress = {});

} // namespace quorvane
