#pragma once

// What every command asks of an open safe's contents, whatever its format.
// The plain container answers over the session's working copy (its save is
// the lifecycle's atomic rewrite); a vault answers from the safe file itself
// and commits in place.
//
// Two ways to speak to it:
// - Rows: the ContainerIndex view the window, the tool and the folder show
//   (row i of index is file i of the last list(); a vault's rows are its
//   files, each named by its whole path). Every call below keeps the rows
//   in step with what it changed.
// - Paths: entries(), entry(), readEntry(), extractEntry(), addEntry(),
//   makeFolder(), removeEntry(), moveEntry(), setStamp(). An entry is a file
//   or a folder at a UTF-8 path of "/"-separated parts, with a 64-bit size, a
//   modification time and the owner's mode bits (ContentEntry).
//   keepsTree() says whether the safe keeps folders, paths, long names and
//   times (a vault). When it does not (a plain safe: one flat list of names
//   of at most namePartMost() bytes), a folder, a "/" in a path or a stamp
//   is refused with lastError() EPERM, for the caller to say why; its
//   entries show time 0 and mode 0600.
// Failures leave lastError() as an errno value (ENOENT, EEXIST, ENOTEMPTY,
// EISDIR, ENOTDIR, EINVAL, ENAMETOOLONG, EPERM, EROFS, ...) or one of the
// storage's own codes (ContentDamaged, SafeChangedInPlace).
//
// Commit and discard belong to the session, whatever the format: the
// lifecycle's save (which commits a vault through VaultContents::commit)
// and discardWorkingCopy (VaultContents::discard).

#include "storage/Progress.h"
#include "storage/format/Container.h"
#include "storage/format/ContainerIndex.h"
#include "storage/format/ContentEntry.h"
#include "storage/workingcopy/RandomAccessFile.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace quorvane {

class SafeContents {
  public:
    virtual ~SafeContents() = default;

    // Loads every file's row into index, replacing what it held.
    virtual IndexReadResult list(ContainerIndex& index) = 0;
    // Up to count bytes of row's content from offset on: the number read (0
    // at or past its end), or -1 (lastError() says why).
    virtual std::int64_t read(const ContainerIndex& index, std::size_t row, std::uint64_t offset,
                              void* into, std::size_t count) = 0;
    // Writes row's whole content to out; false when it could not be read in
    // full (lastError(), ContentDamaged for a damaged file) or out failed.
    virtual bool extract(const ContainerIndex& index, std::size_t row, std::ostream& out,
                         const ProgressCallback& progress = {}) = 0;
    // The largest file one more add takes.
    virtual std::uint64_t room(const ContainerIndex& index) const = 0;
    virtual AppendResult add(ContainerIndex& index, RandomAccessFile& source,
                             const std::string& name, std::uint64_t size,
                             const ProgressCallback& progress = {}) = 0;
    virtual RemoveResult remove(ContainerIndex& index, std::size_t row,
                                const ProgressCallback& progress = {}) = 0;
    // False on a failure (lastError()); the row keeps its old name.
    virtual bool rename(ContainerIndex& index, std::size_t row, const std::string& name) = 0;
    // False once the safe file was changed by another program under the session.
    virtual bool unchanged() = 0;
    virtual int lastError() const = 0;

    // Whether folders, paths, long names and times are kept (see above).
    virtual bool keepsTree() const = 0;
    // The most bytes one part of a path may have.
    virtual std::size_t namePartMost() const = 0;
    // Every entry in byte order of the paths (a folder before what it holds).
    virtual std::vector<ContentEntry> entries(const ContainerIndex& index) const = 0;
    // The entry at path, if there is one.
    virtual std::optional<ContentEntry> entry(const ContainerIndex& index,
                                              const std::string& path) const = 0;
    // As read() and extract(), for the file at path.
    virtual std::int64_t readEntry(const ContainerIndex& index, const std::string& path,
                                   std::uint64_t offset, void* into, std::size_t count) = 0;
    virtual bool extractEntry(const ContainerIndex& index, const std::string& path,
                              std::ostream& out, const ProgressCallback& progress = {}) = 0;
    // Stores size bytes of source as the file at path (its folder must
    // exist) with stamp. A refused path is WriteFailed with lastError() set.
    virtual AppendResult addEntry(ContainerIndex& index, RandomAccessFile& source,
                                  const std::string& path, std::uint64_t size,
                                  const EntryStamp& stamp, OnExisting existing,
                                  const ProgressCallback& progress = {}) = 0;
    virtual bool makeFolder(ContainerIndex& index, const std::string& path,
                            const EntryStamp& stamp) = 0;
    // A file, or a folder: only when empty (rmdir), or with everything in it.
    virtual RemoveResult removeEntry(ContainerIndex& index, const std::string& path,
                                     FolderRemoval folder,
                                     const ProgressCallback& progress = {}) = 0;
    // Moves a file, or a folder with everything below it, in one step. With
    // Replace a file at to gives way to a file, an empty folder to a folder.
    virtual bool moveEntry(ContainerIndex& index, const std::string& from, const std::string& to,
                           OnExisting existing) = 0;
    virtual bool setStamp(ContainerIndex& index, const std::string& path,
                          const EntryStamp& stamp) = 0;
};

// Whether a file of size bytes fits what contents still takes.
inline bool fitsContents(const SafeContents& contents, const ContainerIndex& index,
                         std::uint64_t size) {
    return size <= contents.room(index);
}

} // namespace quorvane
