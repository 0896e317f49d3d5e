#include "storage/format/PlainContents.h"

namespace quorvane {

IndexReadReport PlainContents::list(ContainerIndex& index) {
    return readContainerIndex(file_, index);
}

std::int64_t PlainContents::read(const ContainerIndex& index, std::size_t row, std::uint64_t offset,
                                 void* into, std::size_t count) {
    return readEntryContent(file_, index, row, offset, into, count);
}

bool PlainContents::extract(const ContainerIndex& index, std::size_t row, std::ostream& out,
                            const ProgressCallback& progress) {
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
    return appendEntry(file_, index, source, name, size, progress);
}

RemoveResult PlainContents::remove(ContainerIndex& index, std::size_t row,
                                   const ProgressCallback& progress) {
    return removeEntry(file_, index, row, progress);
}

bool PlainContents::rename(ContainerIndex& index, std::size_t row, const std::string& name) {
    return renameEntry(file_, index, row, makeEntryName(name));
}

} // namespace quorvane
