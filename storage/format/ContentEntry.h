#pragma once

// One entry of a safe's contents as the path-speaking calls of SafeContents
// give it: a file or a folder at a UTF-8 path of "/"-separated parts.

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorvane {

enum class ContentKind : unsigned char { File, Folder };

// When an entry was last modified (seconds and nanoseconds since the epoch)
// and the owner's mode bits (only 0700 of them are kept).
struct EntryStamp {
    std::int64_t modifiedSeconds = 0;
    std::uint32_t modifiedNanoseconds = 0;
    std::uint16_t mode = 0600;

    bool operator==(const EntryStamp&) const = default;
};

struct ContentEntry {
    std::string path;
    ContentKind kind = ContentKind::File;
    std::uint64_t size = 0; // 0 for a folder
    EntryStamp stamp;

    bool operator==(const ContentEntry&) const = default;
};

// What an add or a move does when the path is taken already.
enum class OnExisting { Refuse, Replace };
// What a removal does with a folder that still holds entries.
enum class FolderRemoval { OnlyEmpty, WithEverything };

} // namespace quorvane
