#include "storage/format/sealed/VaultConversion.h"

#include "storage/format/sealed/VaultHeader.h"
#include "storage/format/sealed/VaultPacking.h"
#include "storage/workingcopy/PlainFile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <map>
#include <sodium.h>
#include <unistd.h>

namespace quorvane {

namespace {

using vault::Bytes;
using vault::VaultEntry;

// Every entry gets this commit's number: the vault begins with it.
constexpr std::uint64_t FirstGeneration = 1;

// The length of the UTF-8 character at `at`, 0 when the bytes there are none.
std::size_t characterAt(const std::string& name, std::size_t at) {
    const auto lead = static_cast<unsigned char>(name[at]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    // Behind a letter, the character alone makes a valid name exactly when it is one.
    return at + length <= name.size() && vault::validEntryPath("x" + name.substr(at, length))
               ? length
               : 0;
}

// A stored name the vault takes: a slash, a control character or a byte of no
// UTF-8 character becomes "_", and "", "." and ".." get a "_" in front. Any
// stored name is thus kept, under a name as close to it as the vault allows.
std::string usableName(const std::string& stored) {
    std::string name;
    for (std::size_t at = 0; at < stored.size();) {
        const std::size_t length = stored[at] == '/' ? 0 : characterAt(stored, at);
        name += length == 0 ? std::string("_") : stored.substr(at, length);
        at += length == 0 ? 1 : length;
    }
    return vault::validEntryPath(name) ? name : "_" + name;
}

std::string freeNameFor(const std::map<std::string, VaultEntry>& taken, const std::string& stored) {
    const std::string name = usableName(stored);
    std::string candidate = name;
    for (unsigned n = 2; taken.count(candidate) != 0 || !vault::validEntryPath(candidate); ++n)
        candidate = name + " (" + std::to_string(n) + ")";
    return candidate;
}

// The new vault's keys and the header's fixed part and key slot: the one
// Argon2id run of the conversion.
struct NewKeys {
    vault::SessionKeys keys;
    unsigned char fixed[vault::FixedSize]{};
    vault::KeySlot slot;
};

std::optional<Failure> makeKeys(const std::string& password, const vault::VaultSettings& settings,
                                NewKeys& made) {
    if (!vault::cryptoReady() || !vault::chunkSizeAccepted(settings.chunkSize))
        return Failure{0, "The vault's settings are out of bounds"};
    const auto [kek, failure] = deriveNewSealedKey(password, settings.passes, settings.memoryKiB);
    if (!kek)
        return failure;
    vault::randomBytes(made.keys.data.data(), vault::KeySize);
    vault::deriveSubkeys(made.keys);
    vault::makeFixedPart(settings.chunkSize, made.fixed);
    made.slot.generation = 1;
    vault::wrapDataKey(made.keys.data, *kek, made.fixed, made.slot);
    return std::nullopt;
}

void put(std::ostream& out, const Bytes& bytes) {
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// One row's content, sealed chunk by chunk at its place in the new vault.
bool writeContent(SafeContents& from, const ContainerIndex& index, std::size_t row,
                  const VaultEntry& entry, const vault::ChunkGeometry& geometry,
                  const NewKeys& made, Bytes& plain, Bytes& sealed, std::ostream& out) {
    const std::uint64_t chunks = geometry.chunkCount(entry.size);
    for (std::uint64_t number = 0; number < chunks && out; ++number) {
        const std::uint64_t at = number * geometry.chunkSize;
        const auto count =
            static_cast<std::size_t>(std::min<std::uint64_t>(geometry.chunkSize, entry.size - at));
        for (std::size_t done = 0; done < count;) {
            const std::int64_t got =
                from.read(index, row, at + done, plain.data() + done, count - done);
            if (got <= 0)
                return false;
            done += static_cast<std::size_t>(got);
        }
        const vault::Place place{vault::ChunkKind::Content, entry.id, number, FirstGeneration,
                                 number + 1 == chunks};
        vault::sealChunk(made.keys.chunks, made.fixed + vault::SafeIdAt, place, plain.data(), count,
                         sealed.data());
        out.write(reinterpret_cast<const char*>(sealed.data()),
                  static_cast<std::streamsize>(count + vault::SealOverhead));
    }
    return true;
}

// The fresh file must open to the planned entries, and every chunk of every
// file must open at its place: read back before it takes the safe's name.
bool readsBackAs(int fd, const vault::SecretKey& dataKey,
                 const std::map<std::string, VaultEntry>& planned, Bytes& block) {
    vault::OpenResult opening = vault::OpenResult::Opened;
    const auto fresh =
        vault::Vault::openWithKey(std::make_unique<PlainFile>(::dup(fd)), dataKey, false, opening);
    if (!fresh || fresh->entries() != planned)
        return false;
    for (const auto& [path, entry] : planned) {
        for (std::uint64_t at = 0; at < entry.size;) {
            std::size_t got = 0;
            const auto count =
                static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), entry.size - at));
            if (fresh->read(path, at, block.data(), count, got) != vault::StepResult::Done ||
                got == 0)
                return false;
            at += got;
        }
    }
    return true;
}

} // namespace

VaultConversion convertToVault(SafeContents& from, const ContainerIndex& index,
                               const std::string& password, const vault::VaultSettings& settings,
                               const std::filesystem::path& target, ReplaceGuard guard) {
    VaultConversion conversion;
    NewKeys made;
    if (std::optional<Failure> failed = makeKeys(password, settings, made)) {
        conversion.replaced.failure = std::move(failed);
        return conversion;
    }
    const vault::ChunkGeometry geometry{settings.chunkSize};
    std::map<std::string, VaultEntry> planned;
    std::map<std::string, std::size_t> rowOf;
    const std::size_t rows = std::min(index.entryDetails.size(), index.indexRows.size());
    for (std::size_t row = 0; row < rows; ++row) {
        VaultEntry entry;
        entry.id = row + 1;
        entry.size = index.entryDetails[row].size;
        entry.generation = FirstGeneration;
        entry.path = freeNameFor(planned, index.entryDetails[row].name);
        rowOf[entry.path] = row;
        planned.emplace(entry.path, std::move(entry));
    }
    const vault::PackedIndex packed =
        vault::packIndex(planned, geometry, made.keys.chunks, made.fixed + vault::SafeIdAt,
                         FirstGeneration, rows + 1);
    const Bytes header = vault::headerBytes(made.fixed, made.slot, made.keys.commits, packed.state);

    Bytes plain(settings.chunkSize), sealed(settings.chunkSize + vault::SealOverhead);
    const auto write = [&](std::ostream& out) -> std::optional<Failure> {
        put(out, header);
        for (const auto& [path, entry] : planned) {
            if (!writeContent(from, index, rowOf[path], entry, geometry, made, plain, sealed,
                              out)) {
                const int error = from.lastError() != 0 ? from.lastError() : EIO;
                return Failure{error, failureText(error)};
            }
        }
        for (const Bytes& group : packed.groups)
            put(out, group);
        put(out, packed.root);
        return std::nullopt; // a stream that failed is the system's failure
    };
    const auto outer = guard.verify;
    guard.verify = [&](int fd) -> std::optional<Failure> {
        if (!readsBackAs(fd, made.keys.data, planned, plain))
            return Failure{0, "The sealed safe file does not read back as the safe"};
        return outer ? outer(fd) : std::nullopt;
    };
    conversion.replaced = replaceFileAtomically(target, write, guard);
    sodium_memzero(plain.data(), plain.size());
    if (!conversion.replaced.replaced())
        return conversion;
    // Go on in the new file, under the lock that moved to it.
    const int fd = guard.lockFresh ? ::dup(conversion.replaced.lockedFd.get())
                                   : ::open(target.c_str(), O_RDWR | O_CLOEXEC);
    vault::OpenResult opening = vault::OpenResult::Opened;
    auto opened = fd < 0 ? nullptr
                         : vault::Vault::openWithKey(std::make_unique<PlainFile>(fd),
                                                     made.keys.data, true, opening);
    if (opened)
        conversion.contents = std::make_unique<VaultContents>(std::move(opened));
    else
        conversion.replaced.warning = "The sealed safe was written but could not be opened again";
    return conversion;
}

} // namespace quorvane
