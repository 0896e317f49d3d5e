#include "storage/format/sealed/VaultIndex.h"

#include "storage/format/sealed/VaultLayout.h"

#include <set>

namespace quorvane::vault {
namespace {

// Length of the UTF-8 sequence that starts at text[at], 0 when none does
// (overlong forms, surrogates and values past U+10FFFF included).
std::size_t utf8Length(const std::string& text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    std::uint32_t value = 0;
    if (lead < 0x80)
        return 1;
    if ((lead & 0xE0) == 0xC0)
        length = 2, value = lead & 0x1Fu;
    else if ((lead & 0xF0) == 0xE0)
        length = 3, value = lead & 0x0Fu;
    else if ((lead & 0xF8) == 0xF0)
        length = 4, value = lead & 0x07u;
    else
        return 0;
    if (at + length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (byte(at + i) & 0x3Fu);
    }
    static constexpr std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
    return value < least[length] || value > 0x10FFFF || surrogate ? 0 : length;
}

bool validPart(const std::string& path, std::size_t from, std::size_t to) {
    const std::size_t size = to - from;
    if (size == 0 || size > NamePartMost)
        return false;
    return path.compare(from, size, ".") != 0 && path.compare(from, size, "..") != 0;
}

constexpr std::size_t EntryFixedSize = 8 + 1 + 2 + 8 + 4 + 8 + 8 + 2 + 4;
constexpr std::size_t ExtentSize = 12;

} // namespace

bool validEntryPath(const std::string& path) {
    if (path.empty() || path.size() > PathMost)
        return false;
    std::size_t partFrom = 0;
    for (std::size_t at = 0; at < path.size();) {
        const unsigned char c = static_cast<unsigned char>(path[at]);
        if (c < 0x20 || c == 0x7F)
            return false;
        if (c == '/') {
            if (!validPart(path, partFrom, at))
                return false;
            partFrom = ++at;
            continue;
        }
        const std::size_t length = utf8Length(path, at);
        if (length == 0)
            return false;
        at += length;
    }
    return validPart(path, partFrom, path.size());
}

std::string parentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::uint64_t ChunkGeometry::chunkCount(std::uint64_t size) const {
    return size / chunkSize + (size % chunkSize != 0 ? 1 : 0);
}

std::uint64_t ChunkGeometry::sealedSize(std::uint64_t size, std::uint64_t number) const {
    const std::uint64_t start = number * chunkSize;
    const std::uint64_t plain = size - start < chunkSize ? size - start : chunkSize;
    return plain + SealOverhead;
}

std::uint64_t ChunkGeometry::sealedSpan(std::uint64_t size, std::uint64_t first,
                                        std::uint64_t chunks) const {
    if (chunks == 0)
        return 0;
    // Only the content's last chunk can be short.
    return (chunks - 1) * (std::uint64_t{chunkSize} + SealOverhead) +
           sealedSize(size, first + chunks - 1);
}

std::size_t encodedSize(const VaultEntry& entry) {
    return EntryFixedSize + entry.path.size() + ExtentSize * entry.extents.size();
}

void encodeEntry(const VaultEntry& entry, Bytes& to) {
    putLe(to, entry.id, 8);
    to.push_back(static_cast<unsigned char>(entry.kind));
    putLe(to, entry.mode, 2);
    putLe(to, static_cast<std::uint64_t>(entry.modifiedSeconds), 8);
    putLe(to, entry.modifiedNanoseconds, 4);
    putLe(to, entry.size, 8);
    putLe(to, entry.generation, 8);
    putLe(to, entry.path.size(), 2);
    to.insert(to.end(), entry.path.begin(), entry.path.end());
    putLe(to, entry.extents.size(), 4);
    for (const Extent& extent : entry.extents) {
        putLe(to, extent.offset, 8);
        putLe(to, extent.chunks, 4);
    }
}

void encodeGroupHead(std::uint32_t count, Bytes& to) {
    putLe(to, count, 4);
}

namespace {

bool decodeExtents(ByteReader& in, const IndexBounds& bounds, VaultEntry& entry) {
    const std::uint64_t count = in.number(4);
    if (!in.ok() || count > in.left() / ExtentSize)
        return false;
    const std::uint64_t needed = bounds.geometry.chunkCount(entry.size);
    std::uint64_t first = 0;
    entry.extents.reserve(count);
    for (std::uint64_t i = 0; i < count; ++i) {
        Extent extent;
        extent.offset = in.number(8);
        extent.chunks = static_cast<std::uint32_t>(in.number(4));
        if (extent.chunks == 0 || extent.chunks > needed - first || extent.offset < HeaderSize ||
            extent.offset > bounds.lengthInUse)
            return false;
        const std::uint64_t span = bounds.geometry.sealedSpan(entry.size, first, extent.chunks);
        if (span > bounds.lengthInUse - extent.offset)
            return false;
        first += extent.chunks;
        entry.extents.push_back(extent);
    }
    return in.ok() && first == needed;
}

bool decodeEntry(ByteReader& in, const IndexBounds& bounds, VaultEntry& entry) {
    entry.id = in.number(8);
    entry.kind = static_cast<EntryKind>(in.number(1));
    entry.mode = static_cast<std::uint16_t>(in.number(2));
    entry.modifiedSeconds = static_cast<std::int64_t>(in.number(8));
    entry.modifiedNanoseconds = static_cast<std::uint32_t>(in.number(4));
    entry.size = in.number(8);
    entry.generation = in.number(8);
    entry.path = in.text(static_cast<std::size_t>(in.number(2)));
    if (!in.ok() || entry.id == 0 || entry.id >= bounds.nextEntryId ||
        (entry.kind != EntryKind::File && entry.kind != EntryKind::Folder) ||
        (entry.mode & ~0700u) != 0 || entry.modifiedNanoseconds >= 1000000000u ||
        !validEntryPath(entry.path))
        return false;
    // A size is bounded by the stored bytes before any extent is read.
    if (entry.kind == EntryKind::Folder && entry.size != 0)
        return false;
    if (entry.size > bounds.lengthInUse)
        return false;
    return decodeExtents(in, bounds, entry);
}

} // namespace

bool decodeGroup(const unsigned char* data, std::size_t size, const IndexBounds& bounds,
                 std::vector<VaultEntry>& into) {
    ByteReader in(data, size);
    const std::uint64_t count = in.number(4);
    if (!in.ok() || count == 0 || count > in.left() / EntryFixedSize)
        return false;
    for (std::uint64_t i = 0; i < count; ++i) {
        VaultEntry entry;
        if (!decodeEntry(in, bounds, entry))
            return false;
        into.push_back(std::move(entry));
    }
    return in.left() == 0;
}

void encodeRoot(const std::vector<RootRow>& rows, Bytes& to) {
    putLe(to, rows.size(), 4);
    for (const RootRow& row : rows) {
        putLe(to, row.offset, 8);
        putLe(to, row.sealedSize, 4);
        putLe(to, row.group, 4);
        putLe(to, row.generation, 8);
    }
}

std::optional<std::vector<RootRow>> decodeRoot(const Bytes& bytes, const IndexBounds& bounds) {
    ByteReader in(bytes.data(), bytes.size());
    const std::uint64_t count = in.number(4);
    if (!in.ok() || count != in.left() / RootRowSize || in.left() % RootRowSize != 0)
        return std::nullopt;
    std::vector<RootRow> rows(count);
    std::set<std::uint32_t> groups;
    for (RootRow& row : rows) {
        row.offset = in.number(8);
        row.sealedSize = static_cast<std::uint32_t>(in.number(4));
        row.group = static_cast<std::uint32_t>(in.number(4));
        row.generation = in.number(8);
        const bool fits = row.offset >= HeaderSize && row.offset <= bounds.lengthInUse &&
                          row.sealedSize <= bounds.lengthInUse - row.offset;
        if (!fits || row.sealedSize <= SealOverhead ||
            row.sealedSize > bounds.geometry.chunkSize + SealOverhead ||
            !groups.insert(row.group).second)
            return std::nullopt;
    }
    return rows;
}

} // namespace quorvane::vault
