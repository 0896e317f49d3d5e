#pragma once

// What every command asks of an open safe's contents, whatever its format:
// the rows of its files, a range of one file, and the changes (add, remove,
// rename). The plain container answers over the session's working copy (its
// save is the lifecycle's atomic rewrite); a vault answers from the safe file
// itself and commits in place. Rows are the ContainerIndex view the window,
// the tool and the folder show: row i of index is file i of the last list().

#include "storage/Progress.h"
#include "storage/format/Container.h"
#include "storage/format/ContainerIndex.h"
#include "storage/workingcopy/RandomAccessFile.h"

#include <cstdint>
#include <ostream>
#include <string>

namespace quorvane {

class SafeContents {
  public:
    virtual ~SafeContents() = default;

    // Loads every file's row into index, replacing what it held.
    virtual IndexReadReport list(ContainerIndex& index) = 0;
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
};

// Whether a file of size bytes fits what contents still takes.
inline bool fitsContents(const SafeContents& contents, const ContainerIndex& index,
                         std::uint64_t size) {
    return size <= contents.room(index);
}

} // namespace quorvane
