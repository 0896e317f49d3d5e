#pragma once

// A sealed safe of the second version: a vault in one file. Contents live in
// sealed chunks of one size, the index in sealed groups under a sealed root,
// and one of two commit slots in the header names the state. Changes append
// chunks to the safe file itself (encrypted, reached by no slot until the
// commit); commit syncs them, reads them back and writes the older slot;
// discard cuts the file back. Not thread-safe: one caller at a time.

#include "storage/Progress.h"
#include "storage/files/AtomicReplace.h"
#include "storage/format/ContentEntry.h"
#include "storage/format/sealed/VaultCrypto.h"
#include "storage/format/sealed/VaultIndex.h"
#include "storage/format/sealed/VaultSpace.h"
#include "storage/workingcopy/PlainFile.h"

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <unordered_map>

namespace quorvane::vault {

enum class OpenResult {
    Opened,
    NotVault,      // no signature, or the first sealed version
    Unacceptable,  // too short, another format number, or numbers out of bounds
    WrongPassword, // no key slot opens under this password
    Damaged,       // the key opened, and the slots, the root or the index do not
    ReadFailed,    // the system failed to read (lastError)
    KeyFailed,     // the password's key could not be derived
};

enum class StepResult {
    Done,
    NotFound,
    Exists,
    NoFolder,     // the parent folder is missing
    NotEmpty,     // a folder with entries in it
    IsFolder,     // a file was to replace a folder
    NotFolder,    // a folder was to replace a file
    InvalidPath,  // see validEntryPath
    TooLarge,     // more chunks than an entry can name
    Damaged,      // a chunk does not open at its place
    ReadFailed,   // the vault could not be read (lastError)
    WriteFailed,  // the vault could not be written or synced (lastError)
    SourceFailed, // the source of an add could not be read
    ReadOnly,     // opened for reading, or a commit's end was left uncertain
    KeyFailed,    // a new password's key could not be derived
};

struct VaultSettings {
    std::uint32_t passes = SealPassesDefault;
    std::uint32_t memoryKiB = SealMemoryKiBDefault;
    std::uint32_t chunkSize = ChunkSizeDefault;
};

using quorvane::EntryStamp;

class Vault {
  public:
    // Writes a new, empty vault onto out; why not, when it failed.
    [[nodiscard]] static std::optional<Failure>
    writeNew(std::ostream& out, const std::string& password, const VaultSettings& settings);
    static std::unique_ptr<Vault> open(std::unique_ptr<PlainFile> file, const std::string& password,
                                       bool writable, OpenResult& outcome);
    // With the data key known already (a compacted file, a test harness).
    static std::unique_ptr<Vault> openWithKey(std::unique_ptr<PlainFile> file,
                                              const SecretKey& dataKey, bool writable,
                                              OpenResult& outcome);
    ~Vault();

    // Every entry, by path.
    const std::map<std::string, VaultEntry>& entries() const { return entries_; }
    const VaultEntry* find(const std::string& path) const;

    // Up to count bytes of a file's content from offset on; got is how many.
    StepResult read(const std::string& path, std::uint64_t offset, void* into, std::size_t count,
                    std::size_t& got);
    // Stores size bytes of source (from its start) as the file at path,
    // replacing a file there when replace is true.
    StepResult add(const std::string& path, RandomAccessFile& source, std::uint64_t size,
                   const EntryStamp& stamp, bool replace = false,
                   const ProgressCallback& progress = {});
    StepResult makeFolder(const std::string& path, const EntryStamp& stamp);
    // A folder goes only when empty, unless everything below it is to go too.
    StepResult remove(const std::string& path, bool withEverything = false);
    // A folder takes everything below it along. With replace, an entry of
    // the same kind at to (a folder only when empty) gives way, as POSIX
    // rename has it.
    StepResult rename(const std::string& from, const std::string& to, bool replace = false);
    // Sets an entry's modification time and mode bits.
    StepResult setStamp(const std::string& path, const EntryStamp& stamp);

    bool changed() const { return changed_; }
    // Makes the changes the safe's state: nothing is written when none was made.
    StepResult commit();
    // Forgets every change since the last commit and cuts the file back.
    StepResult discard();
    StepResult changePassword(const std::string& password, std::uint32_t passes = SealPassesDefault,
                              std::uint32_t memoryKiB = SealMemoryKiBDefault);

    // Whether more than a quarter of the file is reached by no slot.
    bool wantsCompaction() const;
    // Writes the committed state into a fresh file that replaces target
    // (atomically, see replaceFileAtomically) and goes on in it.
    ReplaceResult compact(const std::filesystem::path& target, ReplaceGuard guard);

    std::uint64_t generation() const { return committed_.generation; }
    std::uint32_t chunkSize() const { return geometry_.chunkSize; }
    std::uint64_t lengthInUse() const { return committed_.lengthInUse; }
    int lastError() const { return lastError_; }
    int fd() const { return file_->fd(); }

  private:
    struct Group {
        RootRow row;           // where it is stored (offset 0: never stored yet)
        std::size_t bytes = 4; // encoded, with its count
        bool dirty = false;
    };
    struct Loaded {
        std::map<std::string, VaultEntry> entries;
        std::unordered_map<std::uint64_t, std::uint32_t> groupOf;
        std::map<std::uint32_t, Group> groups;
        Range root;
        std::vector<Range> reached;
    };

    Vault(std::unique_ptr<PlainFile> file, bool writable);
    OpenResult readHeader(const std::string* password, const SecretKey* dataKey);
    OpenResult loadCommitted();
    OpenResult loadState(const CommitState& state, Loaded& loaded);
    void adopt(Loaded&& loaded, const CommitState& state);
    bool readChunk(std::uint64_t offset, std::size_t sealedSize, const Place& place,
                   unsigned char* plain);
    StepResult readWhole(const VaultEntry& entry);
    std::uint64_t chunkOffset(const VaultEntry& entry, std::uint64_t number) const;
    std::uint64_t reachedBytes() const;
    bool writeContent(RandomAccessFile& source, std::uint64_t size, std::uint64_t id,
                      std::uint64_t offset, const ProgressCallback& progress, StepResult& outcome);
    StepResult writable() const;
    StepResult checkNewPath(const std::string& path) const;
    void placeInGroup(const VaultEntry& entry);
    void leaveGroup(const VaultEntry& entry);
    void releaseContent(const VaultEntry& entry);
    void dropEntry(const std::string& path);
    StepResult checkMoveTarget(const VaultEntry& source, const std::string& to, bool replace) const;
    StepResult verifyCommit(const CommitState& state);
    StepResult writeSlot(const CommitState& state);
    StepResult fail(StepResult outcome);
    std::uint64_t nextGeneration() const { return committed_.generation + 1; }

    std::unique_ptr<PlainFile> file_;
    bool writable_;
    unsigned char fixed_[FixedSize]{};
    KeySlot keySlots_[2];
    unsigned keySlot_ = 0;
    SessionKeys keys_;
    ChunkGeometry geometry_;
    CommitState committed_;
    unsigned committedSlot_ = 0;
    std::map<std::string, VaultEntry> entries_;
    std::unordered_map<std::uint64_t, std::uint32_t> groupOf_;
    std::map<std::uint32_t, Group> groups_;
    Range root_;
    VaultSpace space_;
    std::vector<std::uint64_t> writtenIds_; // contents written since the last commit
    std::uint64_t nextEntryId_ = 1;
    std::uint64_t reached_ = 0; // bytes the committed state reaches
    bool changed_ = false;
    bool uncertain_ = false;
    int lastError_ = 0;
    Bytes cache_; // the last content chunk opened, for reads that walk a file
    std::uint64_t cachedId_ = 0, cachedChunk_ = 0;
};

} // namespace quorvane::vault
