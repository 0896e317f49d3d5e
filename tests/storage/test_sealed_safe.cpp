// The first sealed format, which is only read, against an independent
// implementation, and every way in which a sealed file can be wrong.

#include "storage/format/SealedSafe.h"

#include "tests/support/SealedBytes.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using test::patternBytes;
using test::QuickMemoryKiB;
using test::QuickPasses;
using test::readFile;
using test::writeFile;

constexpr std::size_t MiB = 1u << 20;
constexpr std::size_t Piece = MiB + SealedPieceOverhead; // a whole piece as stored
const std::string Password = "sealed password";

std::unique_ptr<SealedKey> quickKey(const std::string& password = Password) {
    auto [key, failure] = deriveNewSealedKey(password, QuickPasses, QuickMemoryKiB);
    EXPECT_NE(key, nullptr) << failure.detail;
    return std::move(key);
}

std::string sealed(const std::string& plain, const SealedKey& key) {
    return test::sealedBytes(plain, key);
}

// Unseals with a key derived from the file's own header, as opening does.
Unsealing unsealed(const std::string& safe, const std::string& password, std::string& plain) {
    std::istringstream header(safe);
    SealParameters parameters;
    if (readSealedHeader(header, parameters) != SealedHeaderResult::Read)
        return Unsealing::Refused;
    SealedKey key;
    if (key.derive(password, parameters))
        return Unsealing::Refused;
    std::istringstream in(safe);
    std::ostringstream out;
    const Unsealing outcome = unsealStream(in, out, key).outcome;
    plain = out.str();
    return outcome;
}

Unsealing unsealed(const std::string& safe, const std::string& password = Password) {
    std::string ignored;
    return unsealed(safe, password, ignored);
}

class SealedSafeTest : public ::testing::Test {
  protected:
    test::TempFolder folder{"quorvane-sealed"};
};

TEST_F(SealedSafeTest, RoundTripsEverySizeAroundThePieceBoundaries) {
    const auto key = quickKey();
    const struct {
        std::size_t size;
        std::size_t pieces;
    } cases[] = {{0, 1}, {1, 1}, {16, 1}, {MiB - 1, 1}, {MiB, 1}, {MiB + 1, 2}, {2 * MiB + 5, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        const std::string plain = patternBytes(c.size, static_cast<unsigned>(c.size));
        const std::string safe = sealed(plain, *key);
        EXPECT_EQ(safe.size(), SealedHeaderSize + c.size + c.pieces * SealedPieceOverhead);
        std::string back;
        EXPECT_EQ(unsealed(safe, Password, back), Unsealing::Done);
        EXPECT_EQ(back, plain);
    }
}

TEST_F(SealedSafeTest, OursAndTheIndependentImplementationOpenEachOthersSafes) {
    for (std::size_t size : {std::size_t{16}, MiB, 2 * MiB + 5}) {
        SCOPED_TRACE(size);
        const std::string plain = patternBytes(size, 3);
        const fs::path theirs = folder / "theirs.cx";
        ASSERT_TRUE(test::referenceSeal(theirs, Password, plain, 2, 9000));
        std::string back;
        EXPECT_EQ(unsealed(readFile(theirs), Password, back), Unsealing::Done);
        EXPECT_EQ(back, plain);
        EXPECT_EQ(unsealed(readFile(theirs), "not it"), Unsealing::Refused);

        const fs::path ours = folder / "ours.cx";
        writeFile(ours, sealed(plain, *quickKey()));
        EXPECT_EQ(test::referenceUnseal(ours, Password), plain);
        EXPECT_EQ(test::referenceUnseal(ours, "not it"), std::nullopt);
    }
}

TEST_F(SealedSafeTest, EveryWrongPasswordIsRefused) {
    const std::string safe = sealed("a small container", *quickKey());
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(unsealed(safe, Password + std::to_string(i)), Unsealing::Refused) << i;
    EXPECT_EQ(unsealed(safe, Password.substr(1)), Unsealing::Refused);
    EXPECT_EQ(unsealed(safe, ""), Unsealing::Refused);
}

// A safe of three pieces (two whole ones and a short last one).
class ChangedSealedSafeTest : public SealedSafeTest {
  protected:
    const std::string plain = patternBytes(2 * MiB + 5, 9);
    const std::string safe = sealed(plain, *quickKey());
};

TEST_F(ChangedSealedSafeTest, OneFlippedByteAnywhereIsRefused) {
    const struct {
        const char* region;
        std::size_t at;
        Unsealing expected;
    } cases[] = {
        {"signature", 3, Unsealing::Refused},
        {"format number", 8, Unsealing::Refused},
        {"key derivation", 12, Unsealing::Refused},
        {"passes", 13, Unsealing::Refused},
        {"memory", 17, Unsealing::Refused},
        {"salt", 30, Unsealing::Refused},
        {"stream header", 40, Unsealing::Refused},
        {"first piece", SealedHeaderSize + 100, Unsealing::Refused},
        {"first piece's tag", SealedHeaderSize + Piece - 1, Unsealing::Refused},
        {"second piece", SealedHeaderSize + Piece + 7, Unsealing::Damaged},
        {"third piece", SealedHeaderSize + 2 * Piece, Unsealing::Damaged},
        {"last byte", SealedHeaderSize + 2 * Piece + 5 + 16, Unsealing::Damaged},
    };
    ASSERT_EQ(safe.size(), SealedHeaderSize + 2 * Piece + 5 + 17);
    for (const auto& c : cases) {
        std::string changed = safe;
        changed[c.at] =
            static_cast<char>(changed[c.at] ^ 0x02); // keeps passes and memory in bounds
        EXPECT_EQ(unsealed(changed), c.expected) << c.region;
    }
}

TEST_F(ChangedSealedSafeTest, ACutOrAnAppendedStreamIsRefused) {
    const struct {
        const char* where;
        std::size_t length;
        Unsealing expected;
    } cuts[] = {
        {"inside the header", 40, Unsealing::Refused},
        {"before the first piece", SealedHeaderSize, Unsealing::Refused},
        {"inside the first piece", SealedHeaderSize + 1000, Unsealing::Refused},
        {"after the first piece", SealedHeaderSize + Piece, Unsealing::Damaged},
        {"inside the second piece", SealedHeaderSize + Piece + 1000, Unsealing::Damaged},
        {"after the second piece", SealedHeaderSize + 2 * Piece, Unsealing::Damaged},
        {"one byte short", safe.size() - 1, Unsealing::Damaged},
    };
    for (const auto& cut : cuts)
        EXPECT_EQ(unsealed(safe.substr(0, cut.length)), cut.expected) << cut.where;
    for (const std::string& extra : {std::string(1, '\0'), safe.substr(SealedHeaderSize, 17)})
        EXPECT_EQ(unsealed(safe + extra), Unsealing::Damaged) << extra.size();
}

TEST_F(SealedSafeTest, HeaderValuesOutOfBoundsAreRefusedAsTheyAreRead) {
    const std::string good = sealed("x", *quickKey());
    auto withLe32 = [&](std::size_t at, std::uint32_t value) {
        std::string header = good;
        for (std::size_t i = 0; i < 4; ++i)
            header[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
        return header;
    };
    auto asking = [&](std::uint32_t passes, std::uint32_t memoryKiB) {
        std::string header = good;
        for (std::size_t i = 0; i < 4; ++i) {
            header[13 + i] = static_cast<char>((passes >> (8 * i)) & 0xFF);
            header[17 + i] = static_cast<char>((memoryKiB >> (8 * i)) & 0xFF);
        }
        return header;
    };
    std::string otherKdf = good;
    otherKdf[12] = 2;
    const struct {
        const char* what;
        std::string bytes;
        SealedHeaderResult expected;
    } cases[] = {
        {"as written", good, SealedHeaderResult::Read},
        {"16 passes", withLe32(13, 16), SealedHeaderResult::Read},
        {"256 MiB", withLe32(17, 256 * 1024), SealedHeaderResult::Read},
        {"3 passes over 256 MiB", asking(3, 256 * 1024), SealedHeaderResult::Read},
        {"12 passes over 64 MiB", asking(12, 64 * 1024), SealedHeaderResult::Read},
        {"4 passes over 256 MiB", asking(4, 256 * 1024), SealedHeaderResult::Unacceptable},
        {"13 passes over 64 MiB", asking(13, 64 * 1024), SealedHeaderResult::Unacceptable},
        {"16 passes over 1 GiB", asking(16, 1024 * 1024), SealedHeaderResult::Unacceptable},
        {"1 GiB", withLe32(17, 1024 * 1024), SealedHeaderResult::Unacceptable},
        {"no passes", withLe32(13, 0), SealedHeaderResult::Unacceptable},
        {"17 passes", withLe32(13, 17), SealedHeaderResult::Unacceptable},
        {"endless passes", withLe32(13, 0xFFFFFFFF), SealedHeaderResult::Unacceptable},
        {"below 8 MiB", withLe32(17, 8191), SealedHeaderResult::Unacceptable},
        {"above 1 GiB", withLe32(17, 1024 * 1024 + 1), SealedHeaderResult::Unacceptable},
        {"format 2", withLe32(8, 2), SealedHeaderResult::Unacceptable},
        {"another derivation", otherKdf, SealedHeaderResult::Unacceptable},
        {"cut header", good.substr(0, 60), SealedHeaderResult::Unacceptable},
        {"signature only", good.substr(0, 8), SealedHeaderResult::Unacceptable},
        {"signature cut", good.substr(0, 7), SealedHeaderResult::NotSealed},
        {"plain safe", "QVSEAL\n\r" + good.substr(8), SealedHeaderResult::NotSealed},
        {"empty", "", SealedHeaderResult::NotSealed},
    };
    for (const auto& c : cases) {
        std::istringstream in(c.bytes);
        SealParameters parameters;
        EXPECT_EQ(readSealedHeader(in, parameters), c.expected) << c.what;
        EXPECT_TRUE(in.good()) << c.what << ": a plain safe is read next from the same stream";
        EXPECT_EQ(hasSealSignature(c.bytes), c.expected != SealedHeaderResult::NotSealed) << c.what;
    }
    SealedKey key;
    SealParameters tooMuch;
    tooMuch.memoryKiB = 256 * 1024 + 1;
    EXPECT_TRUE(key.derive(Password, tooMuch));
}

} // namespace
} // namespace quorvane
