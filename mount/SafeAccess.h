#pragma once

// Everything the folder does to the open safe's container, in one place:
// reading an entry's bytes, staging a file that is being written, and the
// three changes (store, remove, rename). Every call reports a failure as a
// negative errno, which the folder hands on to the program that asked.
// Not thread-safe: the caller holds the session's lock.

#include "lifecycle/SafeState.h"
#include "storage/format/ContentEntry.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

// A file being written through the folder: a working copy with no base, so
// its bytes reach the disk only encrypted, in sectors under a key of this
// session. It becomes an entry only when it is stored.
class StagedFile {
  public:
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    std::uint64_t length() const;
    // Bytes read (fewer at the end), or -errno.
    std::int64_t read(std::uint64_t offset, char* into, std::size_t count);
    // count, or -errno.
    std::int64_t write(std::uint64_t offset, const char* from, std::size_t count);
    // 0, or -errno.
    int resize(std::uint64_t length);

    struct Parts;

  private:
    friend class SafeAccess;
    explicit StagedFile(std::unique_ptr<Parts> parts);
    std::unique_ptr<Parts> parts_;
};

// The three changes are virtual so that the folder's rules can be tried
// against a container whose change fails at a chosen moment.
class SafeAccess {
  public:
    explicit SafeAccess(SafeState& state) : state_(state) {}
    virtual ~SafeAccess() = default;
    SafeAccess(const SafeAccess&) = delete;
    SafeAccess& operator=(const SafeAccess&) = delete;

    // The entries' stored names and sizes, row by row.
    std::size_t entryCount() const;
    const std::string& storedName(std::size_t row) const;
    // A vault keeps one entry per name: a replacement is stored under a free
    // name first and takes the old name once the old entry is gone.
    bool namesAreUnique() const;
    // A stored name no entry has, made from name.
    std::string freeStoredName(const std::string& name) const;
    std::uint64_t entrySize(std::size_t row) const;
    // Nothing may change: the session did not load cleanly, or a change failed half-way.
    bool readOnly() const;
    // True once, when the safe file turns out to have been rewritten by
    // another program: the session becomes read-only (never written over
    // what that program wrote), and what the folder wrote stays readable.
    bool noteSafeChanged();
    // Whether one more entry of size bytes fits the container's 4 GiB.
    bool fits(std::uint64_t size) const;
    // The largest entry that still fits.
    std::uint64_t room() const;

    // Bytes of entry row from offset (fewer at its end), or -errno.
    std::int64_t read(std::size_t row, std::uint64_t offset, char* into, std::size_t count);

    // A new, empty staged file; null with error set when none can be made.
    std::unique_ptr<StagedFile> stage(int& error);
    // Fills staged with entry row's content. 0 or -errno.
    int copyEntry(std::size_t row, StagedFile& staged);
    // Appends staged as a new last entry under name. 0 or -errno (-EFBIG
    // when it does not fit); on failure the container is as it was.
    virtual int store(StagedFile& staged, const std::string& name);
    // 0 or -errno. A removal torn half-way leaves the session read-only.
    virtual int remove(std::size_t row);
    virtual int rename(std::size_t row, const std::string& name);

    // The tree of a safe that keeps one (a sealed safe of the second
    // version): folders, paths of "/"-separated parts, times and modes.
    bool keepsTree() const;
    // The most bytes of one part of a path (of a name, in a flat safe).
    std::size_t namePartMost() const;
    std::optional<ContentEntry> entryAt(const std::string& path) const;
    std::vector<ContentEntry> entries() const;
    // Stores staged as the file at path with stamp, replacing a file there,
    // in one step. 0 or -errno.
    int storeAt(StagedFile& staged, const std::string& path, const EntryStamp& stamp);
    int makeFolder(const std::string& path, const EntryStamp& stamp);
    // An empty folder only. 0 or -errno.
    int removeFolder(const std::string& path);
    // A file, or a folder with everything in it, in one step; what is at to
    // gives way as rename(2) says. 0 or -errno.
    int move(const std::string& from, const std::string& to);
    int setStamp(const std::string& path, const EntryStamp& stamp);

  private:
    SafeState& state_;
    unsigned stagedCount_ = 0;
    bool safeChangedSeen_ = false;
};

} // namespace quorvane
