// Every way in which a vault file can be changed behind our back, as a table:
// what opens, and which files still read. A damaged chunk fails only the
// files that use it; a damaged index or both slots refuse the whole safe as
// damaged; nothing ever reads as other content.

#include "tests/storage/VaultKit.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using namespace test::vaultkit;
using test::patternBytes;
using test::readFile;
using test::writeFile;

constexpr std::uint64_t FullChunk = SmallChunk + SealOverhead;
constexpr std::size_t RootOfOneGroup = 4 + RootRowSize + SealOverhead;

const Contents Stored = {
    {"a", patternBytes(3 * SmallChunk, 1)}, {"b", patternBytes(2 * SmallChunk, 2)}, {"c", "small"}};

class VaultTampering : public ::testing::Test {
  protected:
    void SetUp() override {
        createVault(safe);
        auto vault = openVault(safe);
        for (const auto& [path, content] : Stored)
            ASSERT_EQ(addContent(*vault, path, content), StepResult::Done);
        ASSERT_EQ(vault->commit(), StepResult::Done);
        a = vault->find("a")->extents.at(0).offset;
        b = vault->find("b")->extents.at(0).offset;
        bytes = readFile(safe);
    }

    void flip(std::size_t at) { bytes.at(at) = static_cast<char>(bytes.at(at) ^ 0x20); }
    void swap(std::uint64_t one, std::uint64_t other, std::size_t length) {
        const std::string first = bytes.substr(one, length);
        bytes.replace(one, length, bytes.substr(other, length));
        bytes.replace(other, length, first);
    }

    test::TempFolder folder;
    fs::path safe = folder / "box.cx";
    std::uint64_t a = 0, b = 0;
    std::string bytes;
};

TEST_F(VaultTampering, EachChangeIsDetectedWhereItIs) {
    // Another safe under the same password, with the same files at the same places.
    const fs::path other = folder / "other.cx";
    createVault(other);
    {
        auto vault = openVault(other);
        for (const auto& [path, content] : Stored)
            ASSERT_EQ(addContent(*vault, path, content), StepResult::Done);
        ASSERT_EQ(vault->commit(), StepResult::Done);
    }
    const std::string otherBytes = readFile(other);
    const std::size_t end = bytes.size();
    struct Case {
        const char* what;
        std::function<void()> tamper;
        OpenResult opening;
        std::set<std::string> damaged; // files that fail; the others read as stored
    };
    const Case cases[] = {
        {"a flipped byte in a's second chunk",
         [&] { flip(a + FullChunk + 100); },
         OpenResult::Opened,
         {"a"}},
        {"a's first two chunks swapped",
         [&] { swap(a, a + FullChunk, FullChunk); },
         OpenResult::Opened,
         {"a"}},
        {"a's first chunk swapped with b's",
         [&] { swap(a, b, FullChunk); },
         OpenResult::Opened,
         {"a", "b"}},
        {"a's chunk from another safe, same password and place",
         [&] { bytes.replace(a, FullChunk, otherBytes.substr(a, FullChunk)); },
         OpenResult::Opened,
         {"a"}},
        {"a flipped byte in the index group",
         [&] { flip(end - RootOfOneGroup - 30); },
         OpenResult::Damaged,
         {}},
        {"a flipped byte in the root", [&] { flip(end - 30); }, OpenResult::Damaged, {}},
        {"the newer slot damaged: the older one opens the empty safe",
         [&] { flip(CommitSlotAt[1] + 40); },
         OpenResult::Opened,
         {}},
        {"both slots damaged",
         [&] { flip(CommitSlotAt[0] + 40), flip(CommitSlotAt[1] + 40); },
         OpenResult::Damaged,
         {}},
        {"the slots swapped",
         [&] { swap(CommitSlotAt[0], CommitSlotAt[1], CommitSlotSize); },
         OpenResult::Damaged,
         {}},
        {"the newer slot from the other safe",
         [&] {
             bytes.replace(CommitSlotAt[1], CommitSlotSize,
                           otherBytes.substr(CommitSlotAt[1], CommitSlotSize));
         },
         OpenResult::Opened,
         {}},
        {"the file cut by a byte", [&] { bytes.pop_back(); }, OpenResult::Damaged, {}},
        {"the file cut to its header", [&] { bytes.resize(HeaderSize); }, OpenResult::Damaged, {}},
        {"the header cut", [&] { bytes.resize(HeaderSize - 1); }, OpenResult::Unacceptable, {}},
        {"bytes appended (a crash's tail)",
         [&] { bytes += std::string(5000, 'x'); },
         OpenResult::Opened,
         {}},
        {"the chunk size changed (16 to 32 KiB)",
         [&] { bytes[ChunkSizeAt + 1] = static_cast<char>(0x80); },
         OpenResult::WrongPassword,
         {}},
        {"the chunk size out of bounds",
         [&] { bytes[ChunkSizeAt + 3] = 1; },
         OpenResult::Unacceptable,
         {}},
        {"Argon2id memory out of bounds",
         [&] { bytes[KeySlotAt[0] + 16] = 0x7f; },
         OpenResult::Unacceptable,
         {}},
    };
    const std::string pristine = bytes;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        bytes = pristine;
        c.tamper();
        writeFile(safe, bytes);
        OpenResult outcome = OpenResult::Opened;
        auto vault = openVault(safe, outcome, false);
        ASSERT_EQ(outcome, c.opening);
        if (!vault)
            continue;
        const bool olderState = vault->generation() == 1;
        for (const auto& [path, content] : olderState ? Contents{} : Stored) {
            StepResult read = StepResult::Done;
            const std::string got = contentOf(*vault, path, &read);
            if (c.damaged.count(path) != 0) {
                EXPECT_EQ(read, StepResult::Damaged) << path;
            } else {
                EXPECT_EQ(read, StepResult::Done) << path;
                EXPECT_EQ(got, content) << path;
            }
        }
        EXPECT_EQ(vault->entries().size(), olderState ? 0u : Stored.size());
    }
}

TEST_F(VaultTampering, AnOldSlotNeverBeatsANewerOneNorOpensReusedSpace) {
    // Commits whose space is reused: each old slot copied back over its successor.
    std::vector<std::string> copies{bytes}; // generation 2 first
    auto vault = openVault(safe);
    const std::pair<const char*, std::function<StepResult()>> changes[] = {
        {"a removed", [&] { return vault->remove("a"); }},
        {"a folder", [&] { return vault->makeFolder("d", {}); }},
        {"d/e in a's place",
         [&] { return addContent(*vault, "d/e", patternBytes(3 * SmallChunk, 9)); }},
        {"another folder", [&] { return vault->makeFolder("f", {}); }},
    };
    for (const auto& [what, change] : changes) {
        ASSERT_EQ(change(), StepResult::Done) << what;
        ASSERT_EQ(vault->commit(), StepResult::Done) << what;
        copies.push_back(readFile(safe));
    }
    vault.reset();
    EXPECT_EQ(openVault(safe, false)->generation(), 6u);
    // Generation g lives in slot (g + 1) % 2. Put generation 2 back over generation 6:
    // generation 5 in the other slot is newer and stays the state.
    bytes = copies.back();
    bytes.replace(CommitSlotAt[1], CommitSlotSize,
                  copies[0].substr(CommitSlotAt[1], CommitSlotSize));
    writeFile(safe, bytes);
    auto opened = openVault(safe, false);
    EXPECT_EQ(opened->generation(), 5u);
    EXPECT_EQ(contentsOf(*opened)["d/e"], patternBytes(3 * SmallChunk, 9));
    // Both slots from long ago: their index lies where newer chunks are now.
    bytes.replace(CommitSlotAt[0], CommitSlotSize,
                  copies[1].substr(CommitSlotAt[0], CommitSlotSize));
    writeFile(safe, bytes);
    OpenResult outcome = OpenResult::Opened;
    EXPECT_EQ(openVault(safe, outcome, false), nullptr);
    EXPECT_EQ(outcome, OpenResult::Damaged);
}

} // namespace
} // namespace quorvane
