// A file past 4 GiB goes into a vault and comes out intact: 5 GiB, sparse
// in the source (marks every 256 MiB, so that a chunk read from the wrong
// place shows), with the vault's default chunk size. Slow: the release suite
// runs it, the sanitizer suite leaves it out.

#include "tests/storage/VaultKit.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using namespace test::vaultkit;

constexpr std::uint64_t Size = 5ull << 30;
constexpr std::uint64_t MarkEvery = 256ull << 20;
constexpr std::size_t Block = 1u << 20;

TEST(VaultLarge, AFileOfFiveGiBGoesInAndComesOutIntact) {
    test::TempFolder folder;
    const fs::path source = folder / "source";
    const fs::path safe = folder / "box.cx";
    int error = 0;
    auto file = PlainFile::open(source, O_RDWR | O_CREAT, error);
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(file->resize(Size));
    for (std::uint64_t at = 0; at < Size; at += MarkEvery) {
        const std::string mark = "mark at " + std::to_string(at);
        ASSERT_TRUE(file->writeAt(at + 12345, mark.data(), mark.size()));
    }
    createVault(safe, Password, ChunkSizeDefault);
    {
        auto vault = openVault(safe);
        ASSERT_EQ(vault->add("big", *file, Size, {}), StepResult::Done);
        ASSERT_EQ(vault->commit(), StepResult::Done);
    }
    auto vault = openVault(safe, false);
    ASSERT_EQ(vault->find("big")->size, Size);
    std::string expected(Block, '\0'), got(Block, '\0');
    for (std::uint64_t at = 0; at < Size; at += Block) {
        std::size_t count = 0;
        ASSERT_TRUE(file->readAt(at, expected.data(), Block));
        ASSERT_EQ(vault->read("big", at, got.data(), Block, count), StepResult::Done);
        ASSERT_EQ(count, Block);
        ASSERT_TRUE(got == expected) << "at " << at;
    }
    // A range that starts inside one chunk and ends in another, past 4 GiB.
    const std::uint64_t at = 4 * MarkEvery * 4 + 12345 - 7;
    std::string mark(40, '\0');
    std::size_t count = 0;
    ASSERT_EQ(vault->read("big", at, mark.data(), mark.size(), count), StepResult::Done);
    EXPECT_EQ(mark.substr(7, 8), "mark at ");
}

} // namespace
} // namespace quorvane
