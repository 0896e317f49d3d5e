#pragma once

// The steps that the Add File command and a drop share, one file at a time.

#include "lifecycle/Session.h"
#include "storage/files/SourceSnapshot.h"
#include "storage/format/ContentEntry.h"

#include <cstdint>
#include <string>

namespace quorvane {

struct SourceFile {
    std::string path;
    std::uint64_t size = 0;
    SourceSnapshot before; // taken before anything is copied
    // Where a safe that keeps folders stores it ("Taxes/2025/return.pdf");
    // empty: under its own name at the top.
    std::string storedPath;
    // In a safe that keeps folders: the file takes the place of the entry at
    // its stored path (add --update), instead of being refused next to it.
    bool replacesEntry = false;
};

// The name an added file is stored under: the part of its path after the last
// '/' (the whole path when it has none).
std::string storedNameOf(const std::string& path);
// Where source goes in a safe: its stored path in one that keeps folders,
// else its name, fitted to the name field (see fittedEntryName).
std::string storedPathOf(const SafeState& state, const SourceFile& source);

// True when an entry of size bytes cannot go into the loaded container: the
// size field is read back as 32 bits, and every offset is 32 bits.
bool exceedsContainer(SafeState& state, std::uint64_t size);

// Measures the source; tells the user which file and returns false when it
// cannot be stored (size 0 or unknown, too large). Nothing has been written then.
// consequence, when given, is said on a line of its own below the reason.
bool measureSource(Session& session, const std::string& path, SourceFile& source,
                   const std::string& consequence = "");

// The time and the owner's mode bits of a file or folder to add, for a safe
// that keeps them; now, and all the owner's bits, when they cannot be read.
EntryStamp stampOfSource(const std::string& path);

// Appends the measured source under the busy box with progressText and
// refreshes the list. Where the safe keeps times, the stored file keeps the
// original's time and mode bits. On failure the safe is as it was; the user is told why
// and false comes back.
// storedName, when given, is the name (a path, where the safe keeps folders)
// to store it under instead of the file's own name.
bool storeSource(Session& session, const SourceFile& source, const std::string& progressText,
                 const std::string& storedName = "");

// Writes the open safe's file so that it holds everything stored so far:
// the working copy is plaintext that a crash or a close without saving throws
// away, so an original may be erased only once the safe file holds it. On
// failure "Failed to Save file!" is shown and false comes back; the working
// copy keeps what was stored.
bool saveBeforeErasing(Session& session);

// Securely erases and deletes the original, but only while it is still the
// file that was stored, is not a symbolic link and has no other name; it is
// opened once and overwritten through that descriptor, and its name removed
// only while it still names that file. Otherwise the original is left alone
// (the stored copy stays) and the user is told why.
void eraseOriginal(Session& session, const SourceFile& source);

} // namespace quorvane
