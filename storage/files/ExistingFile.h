#pragma once

// What already stands under an entry's name in the extraction folder, looked
// at before the entry is written: a different file there is the user's to
// keep or to give up, while one that holds the entry's very bytes needs no
// question and no write. Everything else (a name that is no plain file name,
// something that is not an ordinary file, the open safe, a file this
// extraction wrote) is left to placeExtractedFile, which has its own rules.

#include "storage/files/ExtractedFile.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace quorvane {

enum class ExistingFile {
    None,            // nothing has the name
    SameSize,        // an ordinary file of the entry's size: its bytes tell
    Different,       // an ordinary file of another size
    LeftToPlacement, // placeExtractedFile decides
};

// What has the name, from its status alone.
ExistingFile lookAtExisting(const ExtractFolder& folder, const std::string& name,
                            std::uint64_t size);

// Reads count bytes of the entry from offset on into into; the number read, or -1.
using EntryReader =
    std::function<std::int64_t(std::uint64_t offset, void* into, std::size_t count)>;

// Whether the ordinary file of that name holds exactly the entry's bytes; if
// so it now counts as written by this extraction, so that a later entry of
// the same name goes beside it. A file that cannot be read does not.
bool holdsEntryBytes(ExtractFolder& folder, const std::string& name, std::uint64_t size,
                     const EntryReader& readEntry);

} // namespace quorvane
