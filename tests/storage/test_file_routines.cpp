#include "storage/files/FileRoutines.h"

#include "TempFolder.h"
#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quorvane::test {
namespace {

std::string erased(std::size_t length) {
    std::string text;
    while (text.size() < length)
        text += "ABABABABAB";
    return text;
}

// ---------------------------------------------------------------- SecureErase

struct EraseCase {
    std::size_t before;
    std::size_t after;
};

class SecureEraseLength : public ::testing::TestWithParam<EraseCase> {};

TEST_P(SecureEraseLength, OverwritesWithWholePatterns) {
    TempFolder dir;
    writeFile(dir / "f", patternBytes(GetParam().before, 1));
    SecureErase(dir / "f");
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
TEST(SecureErase, LeavesTheFileInPlaceWithItsModeAndCreatesNone) {
    TempFolder dir;
    writeFile(dir / "f", "secret");
    ::chmod((dir / "f").c_str(), 0640);
    SecureErase(dir / "f");
    ASSERT_TRUE(std::filesystem::exists(dir / "f"));
    struct stat status {};
    ASSERT_EQ(::stat((dir / "f").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);
    SecureErase(dir / "missing");
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

TEST(SecureErase, ErasesTheFileBehindASymlink) {
    TempFolder dir;
    writeFile(dir / "target", "0123456789abc");
    std::filesystem::create_symlink(dir / "target", dir / "link");
    SecureErase(dir / "link");
    EXPECT_EQ(readFile(dir / "target"), erased(20));
}

// ---------------------------------------------------------------- moveFileBytes

class MoveFileBytes : public ::testing::Test {
  protected:
    void SetUp() override { writeFile(source, content); }

    int move(std::uint32_t start, std::uint32_t count) {
        return moveFileBytes(source, target, start, count);
    }

    TempFolder dir;
    std::filesystem::path source = dir / "source";
    std::filesystem::path target = dir / "target";
    std::string content = patternBytes(2 * (1u << 20) + 13, 11);
};

struct MoveCase {
    std::uint32_t start;
    std::uint32_t count; // 0: to the end
    std::size_t from;    // what the target must hold: content.substr(from, length)
    std::size_t length;
};

// Each move goes over a larger target that it must replace, prints nothing,
// and leaves the source overwritten in place.
TEST_F(MoveFileBytes, CopiesTheAskedRangeAndErasesTheSource) {
    const auto size = static_cast<std::uint32_t>(content.size());
    const std::vector<MoveCase> cases = {
        {0, 0, 0, content.size()},
        {0, 1000, 0, 1000},
        {0, size + 500, 0, content.size()},
        {100, 0, 100, content.size() - 100},
        {(1u << 20) - 3, 10, (1u << 20) - 3, 10}, // across a buffer boundary
        {size + 1, 0, 0, 0},                      // start beyond the end
    };
    for (const MoveCase& c : cases) {
        SCOPED_TRACE("start " + std::to_string(c.start) + " count " + std::to_string(c.count));
        writeFile(source, content);
        writeFile(target, std::string(5 * (1u << 20), 'x'));
        testing::internal::CaptureStdout();
        EXPECT_EQ(move(c.start, c.count), 1);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_TRUE(readFile(target) == content.substr(c.from, c.length));
        EXPECT_TRUE(readFile(source) == erased(content.size() + 5));
    }
}

TEST_F(MoveFileBytes, EmptySource) {
    writeFile(source, "");
    EXPECT_EQ(move(0, 0), 1);
    EXPECT_EQ(std::filesystem::file_size(target), 0u);
    EXPECT_EQ(std::filesystem::file_size(source), 0u);
}

// A file that cannot be opened is named (the target when both fail); the
// source is kept and a reachable target is left empty.
TEST_F(MoveFileBytes, NamesTheFileItCannotOpen) {
    const std::filesystem::path unreachable = dir / "no-folder" / "target";
    const std::filesystem::path missing = dir / "missing";
    const std::vector<std::pair<std::filesystem::path, std::filesystem::path>> cases = {
        {source, unreachable}, {missing, target}, {missing, unreachable}};
    for (const auto& [from, to] : cases) {
        SCOPED_TRACE(from.string() + " -> " + to.string());
        writeFile(target, "old target bytes");
        testing::internal::CaptureStdout();
        EXPECT_EQ(moveFileBytes(from, to, 0, 0), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "I couldn't open " + (to == target ? from : to).string() + " for copying!\n");
        EXPECT_TRUE(readFile(source) == content);
        EXPECT_FALSE(std::filesystem::exists(missing));
        if (to == target) {
            EXPECT_EQ(std::filesystem::file_size(target), 0u);
        }
    }
}

TEST_F(MoveFileBytes, AFailingWriteIsAFailureAndTheSourceIsKept) {
    // Every write to /dev/full fails with "no space left".
    EXPECT_EQ(moveFileBytes(source, "/dev/full", 0, 0), 0);
    EXPECT_TRUE(readFile(source) == content);
}

TEST_F(MoveFileBytes, AnUnreadableSourceIsAFailureAndIsKept) {
    // A folder opens but gives no bytes: the copy must not pass for done.
    std::filesystem::create_directory(dir / "folder");
    EXPECT_EQ(moveFileBytes(dir / "folder", target, 0, 10), 0);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "folder"));
    EXPECT_EQ(std::filesystem::file_size(target), 0u);
}

TEST_F(MoveFileBytes, ACopyCutOffByAFullDiskLeavesAnEmptyTargetAndKeepsTheSource) {
    // Cut off in a child whose files may not grow past 1 MiB: the copy stops
    // after its first block, as if the disk were full.
    EXPECT_EQ(runInChild([&] {
                  const FileSizeLimit limit(1u << 20);
                  EXPECT_EQ(moveFileBytes(source, target, 0, 0), 0)
                      << "a cut-off move was reported as done";
              }),
              0);
    EXPECT_EQ(std::filesystem::file_size(target), 0u);
    EXPECT_TRUE(readFile(source) == content);
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
