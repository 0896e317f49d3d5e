// Safes of the first sealed version, kept from before the writer moved on:
// each still unseals under its password to the container it was made with.

#include "storage/format/Container.h"
#include "storage/format/SealedSafe.h"
#include "storage/workingcopy/PlainFile.h"

#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>

namespace quorvane {
namespace {

namespace fs = std::filesystem;

const fs::path Fixtures = QUORVANE_SOURCE_DIR "/tests/data/sealed-v1";

std::string greeting() {
    return "hello, sealed world\n";
}

std::string notes() {
    std::string line = "Notizen \xc3\xbc"
                       "ber Kyoto \xe2\x80\x94 \xe4\xba\xac\xe9\x83\xbd\n";
    return line + line + line;
}

std::string pattern() {
    std::string bytes(1100000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 7 + 3) % 251);
    return bytes;
}

struct Fixture {
    const char* file;
    std::vector<std::pair<std::string, std::string>> entries;
};

TEST(SealedFirstVersionFixtures, EachUnsealsToTheEntriesItWasMadeWith) {
    const Fixture fixtures[] = {
        {"empty.cx", {}},
        {"three.cx", {{"greeting.txt", greeting()}, {"notes.md", notes()}}},
        {"pieces.cx", {{"pattern.bin", pattern()}, {"greeting.txt", greeting()}}},
    };
    test::TempFolder folder;
    for (const Fixture& fixture : fixtures) {
        SCOPED_TRACE(fixture.file);
        std::ifstream safe(Fixtures / fixture.file, std::ios::binary);
        SealParameters parameters;
        ASSERT_EQ(readSealedHeader(safe, parameters), SealedHeaderResult::Read);
        SealedKey key;
        const std::optional<Failure> notDerived = key.derive("fixture", parameters);
        ASSERT_FALSE(notDerived) << notDerived->detail;
        const fs::path plainPath = folder.path() / "plain";
        {
            std::ofstream plain(plainPath, std::ios::binary | std::ios::trunc);
            const UnsealResult unsealed = unsealStream(safe, plain, key);
            ASSERT_EQ(unsealed.outcome, Unsealing::Done) << unsealed.failure.detail;
        }
        int error = 0;
        const auto plain = PlainFile::open(plainPath, O_RDONLY, error);
        ASSERT_NE(plain, nullptr);
        ContainerIndex index;
        ASSERT_TRUE(readContainerIndex(*plain, index).clean());
        ASSERT_EQ(index.entryDetails.size(), fixture.entries.size());
        for (std::size_t row = 0; row < fixture.entries.size(); ++row) {
            const auto& [name, content] = fixture.entries[row];
            EXPECT_EQ(index.entryDetails[row].name, name);
            std::string read(content.size(), '\0');
            EXPECT_EQ(readEntryContent(*plain, index, row, 0, read.data(), read.size()),
                      static_cast<std::int64_t>(content.size()));
            EXPECT_EQ(read, content) << name;
        }
    }
}

} // namespace
} // namespace quorvane
