#include "storage/files/AtomicReplace.h"
#include "storage/files/UniqueFd.h"

#include "tests/support/ChildProcess.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace quorvane {
namespace {

namespace fs = std::filesystem;

using test::folderListing;
using test::readFile;
using test::writeFile;
using TempDir = test::TempFolder;

mode_t modeOf(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

// A writer that puts `content` out in pieces of every size, as a real
// producer would.
auto writerOf(const std::string& content) {
    return [content](std::ostream& out) {
        std::size_t at = 0;
        for (std::size_t piece = 1; at < content.size(); piece *= 3) {
            const std::size_t count = std::min(piece, content.size() - at);
            out.write(content.data() + at, static_cast<std::streamsize>(count));
            at += count;
        }
        return std::optional<Failure>(); // a stream that failed is the system's failure
    };
}

std::string sampleContent(std::size_t size, char seed) {
    std::string content(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        content[i] = static_cast<char>(seed + static_cast<char>(i * 31 % 251));
    return content;
}

// A read-back check that refuses leaves the target as it was and nothing
// beside it; the check sees the fresh file from its start.
TEST(ReplaceFileAtomically, ARefusedReadBackReplacesNothing) {
    TempDir dir;
    const fs::path target = dir.write("safe.cx", "old content");
    ReplaceGuard guard;
    guard.verify = [](int fd) {
        char first = 0;
        EXPECT_EQ(::read(fd, &first, 1), 1);
        EXPECT_EQ(first, 'n');
        return std::optional<Failure>(Failure{0, "differs"});
    };
    const ReplaceResult result = replaceFileAtomically(target, writerOf("new content"), guard);
    ASSERT_FALSE(result.replaced());
    EXPECT_EQ(result.failure->detail, "differs");
    EXPECT_EQ(readFile(target), "old content");
    EXPECT_EQ(folderListing(dir.path()), std::vector<std::string>{"safe.cx"});
}

TEST(ReplaceFileAtomically, CreatesANewFileOnlyTheOwnerCanRead) {
    TempDir dir;
    const std::string content = sampleContent(3 * 1024 * 1024 + 5, 'a');
    const ReplaceResult result = replaceFileAtomically(dir / "safe.cx", writerOf(content));
    ASSERT_TRUE(result.replaced()) << result.failure->detail;
    EXPECT_TRUE(readFile(dir / "safe.cx") == content);
    EXPECT_EQ(modeOf(dir / "safe.cx"), 0600u);
    EXPECT_EQ(folderListing(dir.path()), std::vector<std::string>{"safe.cx"});
}

TEST(ReplaceFileAtomically, EmptyContentGivesAnEmptyFile) {
    TempDir dir;
    writeFile(dir / "safe.cx", "old");
    const ReplaceResult result = replaceFileAtomically(
        dir / "safe.cx", [](std::ostream&) { return std::optional<Failure>(); });
    ASSERT_TRUE(result.replaced()) << result.failure->detail;
    EXPECT_EQ(fs::file_size(dir / "safe.cx"), 0u);
}

TEST(ReplaceFileAtomically, KeepsTheModeOfTheReplacedFile) {
    TempDir dir;
    for (mode_t mode : {mode_t{0640}, mode_t{0600}, mode_t{0444}, mode_t{0755}}) {
        SCOPED_TRACE(mode);
        fs::remove(dir / "safe.cx");
        writeFile(dir / "safe.cx", "old content");
        ASSERT_EQ(::chmod((dir / "safe.cx").c_str(), mode), 0);
        const ReplaceResult result = replaceFileAtomically(dir / "safe.cx", writerOf("new"));
        ASSERT_TRUE(result.replaced()) << result.failure->detail;
        EXPECT_EQ(readFile(dir / "safe.cx"), "new");
        EXPECT_EQ(modeOf(dir / "safe.cx"), mode);
    }
}

TEST(ReplaceFileAtomically, ReplacesAFreshInodeSoOldHandlesKeepTheOldBytes) {
    TempDir dir;
    writeFile(dir / "safe.cx", "old content");
    std::ifstream reader(dir / "safe.cx", std::ios::binary);
    const ReplaceResult result = replaceFileAtomically(dir / "safe.cx", writerOf("new content"));
    ASSERT_TRUE(result.replaced()) << result.failure->detail;
    std::ostringstream seen;
    seen << reader.rdbuf();
    EXPECT_EQ(seen.str(), "old content");
    EXPECT_EQ(readFile(dir / "safe.cx"), "new content");
}

TEST(ReplaceFileAtomically, GoesThroughASymbolicLink) {
    TempDir dir;
    fs::create_directory(dir / "real");
    writeFile(dir / "real" / "safe.cx", "old");
    ASSERT_EQ(::chmod((dir / "real" / "safe.cx").c_str(), 0640), 0);
    fs::create_symlink(dir / "real" / "safe.cx", dir / "link.cx");
    const ReplaceResult result = replaceFileAtomically(dir / "link.cx", writerOf("new"));
    ASSERT_TRUE(result.replaced()) << result.failure->detail;
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir / "link.cx")));
    EXPECT_EQ(fs::read_symlink(dir / "link.cx"), dir / "real" / "safe.cx");
    EXPECT_EQ(readFile(dir / "real" / "safe.cx"), "new");
    EXPECT_EQ(modeOf(dir / "real" / "safe.cx"), 0640u);
    EXPECT_EQ(folderListing(dir / "real"), std::vector<std::string>{"safe.cx"});
    EXPECT_EQ(folderListing(dir.path()), (std::vector<std::string>{"link.cx", "real"}));
}

TEST(ReplaceFileAtomically, GoesThroughARelativeLinkToAFileNotYetThere) {
    TempDir dir;
    fs::create_directory(dir / "real");
    fs::create_symlink("real/safe.cx", dir / "link.cx");
    const ReplaceResult result = replaceFileAtomically(dir / "link.cx", writerOf("new"));
    ASSERT_TRUE(result.replaced()) << result.failure->detail;
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir / "link.cx")));
    EXPECT_EQ(readFile(dir / "real" / "safe.cx"), "new");
}

TEST(ReplaceFileAtomically, TakesARelativeNameInTheCurrentFolder) {
    TempDir dir;
    const fs::path before = fs::current_path();
    fs::current_path(dir.path());
    const ReplaceResult created = replaceFileAtomically("new.cx", writerOf("first"));
    const ReplaceResult replaced = replaceFileAtomically("new.cx", writerOf("second"));
    fs::current_path(before);
    EXPECT_TRUE(created.replaced()) << created.failure.value_or(Failure{}).detail;
    EXPECT_TRUE(replaced.replaced()) << replaced.failure.value_or(Failure{}).detail;
    EXPECT_EQ(readFile(dir / "new.cx"), "second");
    EXPECT_EQ(folderListing(dir.path()), std::vector<std::string>{"new.cx"});
}

// A writer that gives up, or throws, after writing part of the new file.
TEST(ReplaceFileAtomically, AFailingWriterLeavesTheOldFileAndNoTempFile) {
    const std::vector<std::pair<std::string, std::function<std::optional<Failure>(std::ostream&)>>>
        writers = {
            {"encryption failed",
             [](std::ostream& out) -> std::optional<Failure> {
                 out << "half of a new safe";
                 return Failure{0, "encryption failed"};
             }},
            {"out of memory",
             [](std::ostream& out) -> std::optional<Failure> {
                 out << "partial";
                 throw std::runtime_error("out of memory");
             }},
        };
    for (const auto& [reason, writer] : writers) {
        SCOPED_TRACE(reason);
        TempDir dir;
        writeFile(dir / "safe.cx", "the old safe");
        const ReplaceResult result = replaceFileAtomically(dir / "safe.cx", writer);
        ASSERT_FALSE(result.replaced());
        EXPECT_EQ(result.failure->detail, reason);
        EXPECT_EQ(readFile(dir / "safe.cx"), "the old safe");
        EXPECT_EQ(folderListing(dir.path()), std::vector<std::string>{"safe.cx"});
    }
}

// Killed outright in the middle of the save (nothing of ours runs after
// SIGKILL): the new file had no name yet, so nothing is left beside the safe.
TEST(ReplaceFileAtomically, AProcessKilledWhileWritingLeavesNothingBesideTheSafe) {
    TempDir dir;
    writeFile(dir / "safe.cx", "the old safe");
    EXPECT_EQ(test::runInChild([&] {
                  replaceFileAtomically(dir / "safe.cx", [](std::ostream& out) {
                      out << sampleContent(1 << 20, 'n') << std::flush;
                      ::raise(SIGKILL);
                      return std::optional<Failure>();
                  });
              }),
              128 + SIGKILL);
    EXPECT_EQ(readFile(dir / "safe.cx"), "the old safe");
    EXPECT_EQ(folderListing(dir.path()), std::vector<std::string>{"safe.cx"});
}

// Another program rewrote the safe in place and set its modification time
// back (a copy that keeps times): size, inode and times match what was opened,
// and only the change time, which no program can set back, tells.
TEST(ReplaceFileAtomically, AFileRewrittenInPlaceWithItsTimesPutBackIsNotReplaced) {
    TempDir dir;
    const fs::path safe = dir / "safe.cx";
    writeFile(safe, "the safe as it was opened");
    ReplaceGuard guard;
    guard.expected = identityAt(safe);
    struct stat opened {};
    ASSERT_EQ(::stat(safe.c_str(), &opened), 0);
    // The file system's clock ticks every few milliseconds: a rewrite within
    // the same tick would show no change at all.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::string theirs = "their safe of equal size!";
    const UniqueFd fd(::open(safe.c_str(), O_WRONLY));
    ASSERT_TRUE(fd);
    ASSERT_EQ(::pwrite(fd.get(), theirs.data(), theirs.size(), 0),
              static_cast<ssize_t>(theirs.size()));
    const struct timespec times[] = {opened.st_atim, opened.st_mtim};
    ASSERT_EQ(::futimens(fd.get(), times), 0);
    ASSERT_EQ(identityAt(safe)->modifiedNanoseconds, guard.expected->modifiedNanoseconds);

    const ReplaceResult result = replaceFileAtomically(safe, writerOf("ours"), guard);
    ASSERT_FALSE(result.replaced());
    EXPECT_EQ(result.failure->detail, TargetChangedReason);
    EXPECT_EQ(readFile(safe), theirs);
    EXPECT_EQ(folderListing(dir.path()), std::vector<std::string>{"safe.cx"});
}

TEST(ReplaceFileAtomically, AMissingFolderOrAFolderAsTargetFailsWithAReason) {
    TempDir dir;
    fs::create_directory(dir / "folder");
    for (const fs::path& target : {dir / "no-such-folder" / "safe.cx", dir / "folder"}) {
        SCOPED_TRACE(target.string());
        const ReplaceResult result = replaceFileAtomically(target, writerOf("new"));
        ASSERT_FALSE(result.replaced());
        EXPECT_FALSE(result.failure->detail.empty());
        EXPECT_TRUE(fs::is_directory(dir / "folder"));
        EXPECT_EQ(folderListing(dir.path()), std::vector<std::string>{"folder"});
    }
}

// Asked before the user types a password: the errno goes with the text, and
// the probe leaves nothing behind.
TEST(CannotReplaceFileAt, NamesTheSystemsReasonAndLeavesNothing) {
    TempDir dir;
    fs::create_directory(dir / "folder");
    writeFile(dir / "safe.cx", "old");
    const struct {
        fs::path target;
        int error; // 0: the file can be replaced
    } cases[] = {
        {dir / "safe.cx", 0},
        {dir / "new.cx", 0},
        {dir / "folder", EISDIR},
        {dir / "no-such-folder" / "safe.cx", ENOENT},
        {dir / "safe.cx" / "inside.cx", ENOTDIR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target.string());
        const std::optional<Failure> failure = cannotReplaceFileAt(c.target);
        EXPECT_EQ(failure ? failure->error : 0, c.error);
        EXPECT_TRUE(!failure || failure->detail == std::strerror(c.error));
    }
    EXPECT_EQ(readFile(dir / "safe.cx"), "old");
    EXPECT_EQ(folderListing(dir.path()), (std::vector<std::string>{"folder", "safe.cx"}));
}

// Runs the replacement in a child that may not write into a read-only
// folder. Root ignores file modes, so as root the child first becomes nobody.
TEST(ReplaceFileAtomically, AReadOnlyFolderFailsAndLeavesTheFileAlone) {
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    fs::create_directory(dir / "locked");
    writeFile(dir / "locked" / "safe.cx", "old");
    ASSERT_EQ(::chmod((dir / "locked" / "safe.cx").c_str(), 0666), 0);
    ASSERT_EQ(::chmod((dir / "locked").c_str(), 0555), 0);
    // Another user in a child: root would write into the folder anyway.
    EXPECT_EQ(test::runInChild([&] {
                  if (::geteuid() == 0) {
                      ASSERT_TRUE(::setgid(65534) == 0 && ::setuid(65534) == 0);
                  }
                  const ReplaceResult result =
                      replaceFileAtomically(dir / "locked" / "safe.cx", writerOf("new"));
                  ASSERT_FALSE(result.replaced());
                  EXPECT_FALSE(result.failure->detail.empty());
              }),
              0);
    EXPECT_EQ(readFile(dir / "locked" / "safe.cx"), "old");
    EXPECT_EQ(folderListing(dir / "locked"), std::vector<std::string>{"safe.cx"});
    ::chmod((dir / "locked").c_str(), 0755);
}

// Runs the replacement in a child whose files may not grow past `limit`
// bytes, like a disk that fills up during the save. The child's exit code
// says what the replacement reported: 0 failure with a reason, 1 success,
// 2 failure without a reason.
int replaceWithFileSizeLimit(const fs::path& target, const std::string& content, rlim_t limit) {
    return test::runInChild([&] {
        const test::FileSizeLimit small(limit);
        const ReplaceResult result = replaceFileAtomically(target, writerOf(content));
        ::_exit(result.replaced() ? 1 : (result.failure->detail.empty() ? 2 : 0));
    });
}

TEST(ReplaceFileAtomically, AFullDiskLeavesTheOldFileWhole) {
    TempDir dir;
    const std::string old = sampleContent(5000, 'o');
    for (rlim_t limit : {rlim_t{0}, rlim_t{4096}, rlim_t{64 * 1024}, rlim_t{1024 * 1024 + 1}}) {
        SCOPED_TRACE(limit);
        writeFile(dir / "safe.cx", old);
        ASSERT_EQ(::chmod((dir / "safe.cx").c_str(), 0640), 0);
        EXPECT_EQ(
            replaceWithFileSizeLimit(dir / "safe.cx", sampleContent(3 * 1024 * 1024, 'n'), limit),
            0);
        EXPECT_TRUE(readFile(dir / "safe.cx") == old);
        EXPECT_EQ(modeOf(dir / "safe.cx"), 0640u);
        EXPECT_EQ(folderListing(dir.path()), std::vector<std::string>{"safe.cx"});
    }
}

TEST(ReplaceFileAtomically, ContentThatFitsIsWrittenUnderTheSameLimit) {
    TempDir dir;
    writeFile(dir / "safe.cx", "old");
    const std::string content = sampleContent(100 * 1024, 'n');
    EXPECT_EQ(replaceWithFileSizeLimit(dir / "safe.cx", content, 200 * 1024), 1);
    EXPECT_TRUE(readFile(dir / "safe.cx") == content);
}

} // namespace
} // namespace quorvane
