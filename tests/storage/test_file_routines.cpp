#include "storage/files/FileRoutines.h"

#include "TempFolder.h"
#include "storage/files/UniqueFd.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace quorvane::test {
namespace {

std::string erased(std::size_t length) {
    std::string text;
    while (text.size() < length)
        text += "ABABABABAB";
    return text;
}

// Erases the file at path through a descriptor of its own, as the erasing of
// an original does once it has checked the file.
int eraseAt(const std::filesystem::path& path, int flags = O_RDWR) {
    const UniqueFd fd(::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK));
    return fd ? SecureEraseOpenFile(fd.get()) : errno;
}

// ---------------------------------------------------------------- SecureEraseOpenFile

struct EraseCase {
    std::size_t before;
    std::size_t after;
};

class SecureEraseLength : public ::testing::TestWithParam<EraseCase> {};

TEST_P(SecureEraseLength, OverwritesWithWholePatterns) {
    TempFolder dir;
    writeFile(dir / "f", patternBytes(GetParam().before, 1));
    ASSERT_EQ(eraseAt(dir / "f"), 0);
    const std::string after = readFile(dir / "f");
    EXPECT_EQ(after.size(), GetParam().after);
    EXPECT_TRUE(after == erased(GetParam().after));
}

INSTANTIATE_TEST_SUITE_P(Lengths, SecureEraseLength,
                         ::testing::Values(EraseCase{0, 0}, EraseCase{1, 10}, EraseCase{25, 30},
                                           EraseCase{30, 30}, EraseCase{31, 40},
                                           EraseCase{(1u << 20) + 1, (1u << 20) + 4},
                                           EraseCase{3 * (1u << 20) + 7, 3 * (1u << 20) + 12}),
                         [](const auto& testCase) {
                             return "From" + std::to_string(testCase.param.before);
                         });

// Erasing again gives the same bytes: the {30, 30} case above.
TEST(SecureErase, LeavesTheFileInPlaceWithItsMode) {
    TempFolder dir;
    writeFile(dir / "f", "secret");
    ::chmod((dir / "f").c_str(), 0640);
    ASSERT_EQ(eraseAt(dir / "f"), 0);
    ASSERT_TRUE(std::filesystem::exists(dir / "f"));
    struct stat status {};
    ASSERT_EQ(::stat((dir / "f").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);
}

// Only a regular file open for writing is overwritten; anything else is a
// failure with its reason, and nothing is written.
TEST(SecureErase, RefusesWhatIsNoRegularFileOpenForWriting) {
    TempFolder dir;
    writeFile(dir / "f", "secret");
    std::filesystem::create_directory(dir / "folder");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(eraseAt(dir / "folder", O_RDONLY), EINVAL);
    EXPECT_EQ(eraseAt(dir / "fifo", O_RDWR), EINVAL);
    EXPECT_EQ(eraseAt(dir / "f", O_RDONLY), EBADF);
    EXPECT_EQ(readFile(dir / "f"), "secret");
}

// ---------------------------------------------------------------- fileSize

TEST(FileSize, GivesTheLengthAndZeroForAMissingFile) {
    TempFolder dir;
    EXPECT_EQ(fileSize(dir / "missing"), 0u);
    writeFile(dir / "empty", "");
    EXPECT_EQ(fileSize(dir / "empty"), 0u);
    writeFile(dir / "five", "12345");
    EXPECT_EQ(fileSize(dir / "five"), 5u);
}

TEST(FileSize, CountsBeyondFourGibibytes) {
    TempFolder dir;
    writeFile(dir / "sparse", "");
    const std::uint64_t length = (std::uint64_t{5} << 30) + 3;
    std::filesystem::resize_file(dir / "sparse", length);
    EXPECT_EQ(fileSize(dir / "sparse"), length);
}

} // namespace
} // namespace quorvane::test
