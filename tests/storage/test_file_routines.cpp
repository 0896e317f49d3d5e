#include "storage/FileRoutines.h"

#include "TempFolder.h"

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
    writeText(dir / "f", patternedText(GetParam().before, 1));
    SecureErase(dir / "f");
    const std::string after = readText(dir / "f");
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

TEST(SecureErase, TwiceLeavesTheSameBytesAsOnce) {
    TempFolder dir;
    writeText(dir / "f", patternedText(25, 2));
    SecureErase(dir / "f");
    const std::string once = readText(dir / "f");
    SecureErase(dir / "f");
    EXPECT_EQ(readText(dir / "f"), once);
}

TEST(SecureErase, LeavesTheFileInPlaceAndKeepsItsMode) {
    TempFolder dir;
    writeText(dir / "f", "secret");
    ::chmod((dir / "f").c_str(), 0640);
    SecureErase(dir / "f");
    ASSERT_TRUE(std::filesystem::exists(dir / "f"));
    struct stat status {};
    ASSERT_EQ(::stat((dir / "f").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);
}

TEST(SecureErase, MissingFileIsNotCreated) {
    TempFolder dir;
    SecureErase(dir / "missing");
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

TEST(SecureErase, ErasesTheFileBehindASymlink) {
    TempFolder dir;
    writeText(dir / "target", "0123456789abc");
    std::filesystem::create_symlink(dir / "target", dir / "link");
    SecureErase(dir / "link");
    EXPECT_EQ(readText(dir / "target"), erased(20));
}

// ---------------------------------------------------------------- moveFileBytes

class MoveFileBytes : public ::testing::Test {
  protected:
    void SetUp() override { writeText(source, content); }

    int move(std::uint32_t start, std::uint32_t count) {
        return moveFileBytes(source, target, start, count);
    }

    TempFolder dir;
    std::filesystem::path source = dir / "source";
    std::filesystem::path target = dir / "target";
    std::string content = patternedText(2 * (1u << 20) + 13, 11);
};

TEST_F(MoveFileBytes, CountZeroCopiesTheWholeSourceAndErasesIt) {
    EXPECT_EQ(move(0, 0), 1);
    EXPECT_TRUE(readText(target) == content);
    ASSERT_TRUE(std::filesystem::exists(source));
    EXPECT_TRUE(readText(source) == erased(content.size() + 5));
}

TEST_F(MoveFileBytes, FirstNBytes) {
    EXPECT_EQ(move(0, 1000), 1);
    EXPECT_EQ(readText(target), content.substr(0, 1000));
    EXPECT_TRUE(readText(source) == erased(content.size() + 5));
}

TEST_F(MoveFileBytes, CountLargerThanTheSourceStopsAtItsEnd) {
    EXPECT_EQ(move(0, static_cast<std::uint32_t>(content.size() + 500)), 1);
    EXPECT_TRUE(readText(target) == content);
}

TEST_F(MoveFileBytes, FromAStartOffset) {
    EXPECT_EQ(move(100, 0), 1);
    EXPECT_TRUE(readText(target) == content.substr(100));
    writeText(source, content);
    EXPECT_EQ(move((1u << 20) - 3, 10), 1);
    EXPECT_EQ(readText(target), content.substr((1u << 20) - 3, 10));
}

TEST_F(MoveFileBytes, StartBeyondTheEndCopiesNothing) {
    EXPECT_EQ(move(static_cast<std::uint32_t>(content.size() + 1), 0), 1);
    EXPECT_TRUE(std::filesystem::exists(target));
    EXPECT_EQ(std::filesystem::file_size(target), 0u);
}

TEST_F(MoveFileBytes, EmptySource) {
    writeText(source, "");
    EXPECT_EQ(move(0, 0), 1);
    EXPECT_EQ(std::filesystem::file_size(target), 0u);
    EXPECT_EQ(std::filesystem::file_size(source), 0u);
}

TEST_F(MoveFileBytes, ReplacesAnExistingTarget) {
    writeText(target, std::string(5 * (1u << 20), 'x'));
    EXPECT_EQ(move(0, 10), 1);
    EXPECT_EQ(readText(target), content.substr(0, 10));
}

TEST_F(MoveFileBytes, TargetInAMissingFolderIsNamedAndTheSourceKept) {
    const std::filesystem::path unreachable = dir / "no-folder" / "target";
    testing::internal::CaptureStdout();
    EXPECT_EQ(moveFileBytes(source, unreachable, 0, 0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "I couldn't open " + unreachable.string() + " for copying!\n");
    EXPECT_TRUE(readText(source) == content);
}

TEST_F(MoveFileBytes, MissingSourceIsNamedAndTheTargetIsCreatedEmpty) {
    const std::filesystem::path missing = dir / "missing";
    writeText(target, "old target bytes");
    testing::internal::CaptureStdout();
    EXPECT_EQ(moveFileBytes(missing, target, 0, 0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "I couldn't open " + missing.string() + " for copying!\n");
    ASSERT_TRUE(std::filesystem::exists(target));
    EXPECT_EQ(std::filesystem::file_size(target), 0u);
    EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST_F(MoveFileBytes, WhenBothFailTheTargetIsNamed) {
    const std::filesystem::path unreachable = dir / "no-folder" / "target";
    testing::internal::CaptureStdout();
    EXPECT_EQ(moveFileBytes(dir / "missing", unreachable, 0, 0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "I couldn't open " + unreachable.string() + " for copying!\n");
}

TEST_F(MoveFileBytes, SuccessPrintsNothing) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(move(0, 0), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(MoveFileBytes, AFailingWriteIsAFailureAndTheSourceIsKept) {
    // Every write to /dev/full fails with "no space left".
    EXPECT_EQ(moveFileBytes(source, "/dev/full", 0, 0), 0);
    EXPECT_TRUE(readText(source) == content);
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
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{1u << 20, 1u << 20};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::_exit(moveFileBytes(source, target, 0, 0) == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a cut-off move was reported as done";
    EXPECT_EQ(std::filesystem::file_size(target), 0u);
    EXPECT_TRUE(readText(source) == content);
}

// ---------------------------------------------------------------- fileSize

TEST(FileSize, MissingAndEmptyFilesAreBothZero) {
    TempFolder dir;
    EXPECT_EQ(fileSize(dir / "missing"), 0u);
    writeText(dir / "empty", "");
    EXPECT_EQ(fileSize(dir / "empty"), 0u);
}

TEST(FileSize, GivesTheLengthOfAFile) {
    TempFolder dir;
    writeText(dir / "five", "12345");
    EXPECT_EQ(fileSize(dir / "five"), 5u);
}

TEST(FileSize, CountsBeyondFourGibibytes) {
    TempFolder dir;
    writeText(dir / "sparse", "");
    const std::uint64_t length = (std::uint64_t{5} << 30) + 3;
    std::filesystem::resize_file(dir / "sparse", length);
    EXPECT_EQ(fileSize(dir / "sparse"), length);
}

} // namespace
} // namespace quorvane::test
