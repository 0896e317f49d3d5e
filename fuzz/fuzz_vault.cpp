// Arbitrary bytes as a vault (a sealed safe of the second version), opened
// with a fixed data key so that every input reaches past the password: after
// the byte 0, a whole file, which either opens or is refused with a reason,
// and when it opens lists and reads every file (each reads whole or reports
// damage), and takes a commit that opens again; after the byte 1, the
// plaintext of an index group and of a root, decoded against bounds.

#include "fuzz/FuzzScratch.h"
#include "storage/format/sealed/Vault.h"

#include <fcntl.h>

using namespace quorvane;
using namespace quorvane::fuzz;
using namespace quorvane::vault;

namespace {

const SecretKey& fuzzKey() {
    static SecretKey* key = [] {
        auto* made = new SecretKey;
        for (unsigned i = 0; i < KeySize; ++i)
            made->data()[i] = static_cast<unsigned char>(i);
        return made;
    }();
    return *key;
}

std::unique_ptr<Vault> openAt(const std::filesystem::path& path, bool writable,
                              OpenResult& outcome) {
    int error = 0;
    auto file = PlainFile::open(path, writable ? O_RDWR : O_RDONLY, error);
    check(file != nullptr, "cannot open the scratch file");
    return Vault::openWithKey(std::move(file), fuzzKey(), writable, outcome);
}

void readEverything(Vault& vault) {
    std::vector<char> buffer;
    for (const auto& [path, entry] : vault.entries()) {
        check(validEntryPath(path) && path == entry.path, "an invalid path was accepted");
        if (entry.kind != EntryKind::File)
            continue;
        // Sizes were bounded by the file: this allocation is too.
        buffer.resize(static_cast<std::size_t>(entry.size));
        std::size_t got = 0;
        const StepResult read = vault.read(path, 0, buffer.data(), buffer.size(), got);
        check(read == StepResult::Done || read == StepResult::Damaged, "a read failed otherwise");
        check(read != StepResult::Done || got == entry.size, "a whole read came short");
    }
}

void fuzzWholeFile(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path path = scratchFolder() / "vault";
    writeFile(path, data, size);
    OpenResult outcome = OpenResult::Opened;
    auto vault = openAt(path, false, outcome);
    check((vault != nullptr) == (outcome == OpenResult::Opened), "an opening without its outcome");
    if (!vault)
        return;
    readEverything(*vault);
    const std::size_t entries = vault->entries().size();
    vault.reset();
    // A writer on the same state: a new folder, committed, opens again with it.
    auto writer = openAt(path, true, outcome);
    check(writer != nullptr, "a vault that opened for reading does not open for writing");
    const StepResult made = writer->makeFolder("fuzz-made", {});
    if (made != StepResult::Done || writer->commit() != StepResult::Done)
        return;
    writer.reset();
    auto again = openAt(path, false, outcome);
    check(again != nullptr, "a committed vault does not open");
    check(again->entries().size() == entries + 1 && again->find("fuzz-made") != nullptr,
          "the commit did not keep the state and its change");
}

void fuzzIndex(const std::uint8_t* data, std::size_t size) {
    const IndexBounds bounds{ChunkGeometry{ChunkSizeDefault}, 1ull << 40, 1ull << 20};
    std::vector<VaultEntry> entries;
    if (decodeGroup(data, size, bounds, entries))
        for (const VaultEntry& entry : entries)
            check(validEntryPath(entry.path), "a group gave an invalid path");
    const Bytes root(data, data + size);
    if (const auto rows = decodeRoot(root, bounds))
        check(4 + rows->size() * RootRowSize == size, "a root of another length");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    if (data[0] % 2 == 0)
        fuzzWholeFile(data + 1, size - 1);
    else
        fuzzIndex(data + 1, size - 1);
    return 0;
}
