// What the folder promises beyond copying bytes, on real mounts: a name
// stays with its document, metadata of the safe is no rewrite, a full disk
// loses nothing, other programs never unmount a served folder, a safe
// rewritten by another program is said so, room is shown, shared maps and
// SQLite work, fsync reaches the safe file, and a kill loses at most a minute.

#include "tests/cli/MountFixture.h"

#include <csignal>
#include <cstring>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>

namespace quorvane::clitest {
namespace {

using test::patternBytes;

bool waitUntil(const std::function<bool()>& done, int seconds) {
    for (int tries = 0; tries < seconds * 20 && !done(); ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return done();
}

TEST_F(CliMount, ANameStaysWithItsDocumentWhenItIsSaved) {
    const fs::path safe = sealSafe({{"report.txt", "first"}, {"report.txt", "second"}});
    StartedRun run = mount(safe, folder());
    const fs::path first = folder() / "report.txt";
    const fs::path second = folder() / "report (2).txt";
    EXPECT_EQ(writeThrough(first, "first, edited"), 0);
    EXPECT_EQ(readFile(first), "first, edited");
    EXPECT_EQ(readFile(second), "second") << "the other document is untouched";
    EXPECT_EQ(writeThrough(first, "first, edited twice"), 0);
    EXPECT_EQ(readFile(second), "second");
    EXPECT_EQ(unmount(run, folder()).exitCode, 0);
    EXPECT_EQ(listOf(safe), "0\t6\treport.txt\n1\t19\treport.txt\n");
}

TEST_F(CliMount, AChangeOfTheSafesMetadataIsNoRewrite) {
    struct Case {
        const char* what;
        std::function<int(const fs::path&)> change;
    };
    const std::vector<Case> cases = {
        {"chmod", [](const fs::path& s) { return ::chmod(s.c_str(), 0640); }},
        {"setfattr",
         [](const fs::path& s) { return ::setxattr(s.c_str(), "user.note", "x", 1, 0); }},
        {"ln", [](const fs::path& s) { return ::link(s.c_str(), (s.string() + ".link").c_str()); }},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        const std::string stored = patternBytes(300'000, 2);
        const fs::path safe = sealSafe({{"kept.bin", stored}});
        StartedRun run = mount(safe, folder());
        std::this_thread::sleep_for(std::chrono::milliseconds(20)); // a coarse clock must move
        if (test.change(safe) != 0) {
            const int error = errno;
            unmount(run, folder());
            // User attributes need a file system that keeps them.
            ASSERT_EQ(error, ENOTSUP) << std::strerror(error);
            continue;
        }
        EXPECT_TRUE(readFile(folder() / "kept.bin") == stored);
        EXPECT_EQ(writeThrough(folder() / "new.txt", "new"), 0);
        RunResult ended = unmount(run, folder());
        EXPECT_EQ(ended.exitCode, 0) << ended.err;
        EXPECT_EQ(listOf(safe), "0\t300000\tkept.bin\n1\t3\tnew.txt\n");
        fs::remove(safe.string() + ".link");
    }
}

// The safe file renamed or moved while its folder is mounted (mv, a file
// manager): what the folder stores lands in the safe where it now is, never
// in a new file under the old name; a file put at the old name meanwhile is
// another program's and stays as it is.
TEST_F(CliMount, TheSafeMovedWhileMountedIsWrittenWhereItNowIs) {
    struct Case {
        const char* what;
        bool sealed;         // a sealed safe of the second version
        const char* movedTo; // relative to the safe's folder
        bool otherAtOldName; // another file put under the old name after the move
    };
    const Case cases[] = {
        {"plain, renamed", false, "renamed.cx", false},
        {"plain, moved to a sub-folder", false, "archive/papers.cx", false},
        {"plain, another file at the old name", false, "renamed.cx", true},
        {"sealed, renamed", true, "renamed.cx", false},
        {"sealed, another file at the old name", true, "renamed.cx", true},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        fs::path safe = sealSafe({{"kept.txt", "kept"}});
        if (test.sealed) {
            RunResult sealed = cli({"seal", safe.string()});
            ASSERT_EQ(sealed.exitCode, 0) << sealed.err;
        }
        const fs::path moved = safe.parent_path() / test.movedTo;
        fs::create_directories(moved.parent_path());
        StartedRun run = mount(safe, folder());
        std::this_thread::sleep_for(std::chrono::milliseconds(20)); // a coarse clock must move
        fs::rename(safe, moved);
        if (test.otherAtOldName)
            writeFile(safe, "another program's file");
        EXPECT_EQ(readFile(folder() / "kept.txt"), "kept");
        EXPECT_EQ(writeThrough(folder() / "new.txt", "new"), 0);
        RunResult ended = unmount(run, folder());
        EXPECT_EQ(ended.exitCode, 0) << ended.err;
        EXPECT_EQ(listOf(moved), "0\t4\tkept.txt\n1\t3\tnew.txt\n");
        if (test.otherAtOldName)
            EXPECT_EQ(readFile(safe), "another program's file");
        else
            EXPECT_FALSE(fs::exists(safe)) << "nothing written under the old name";
        fs::remove(safe);
        fs::remove(moved);
    }
}

// Another program's start judges a mount by its server's lock, not by the
// name of the program serving it (here the tool run through a link).
TEST_F(CliMount, AnotherProgramsStartLeavesAServedFolderMounted) {
    const fs::path link = box.root() / "safe-folder-tool";
    fs::create_symlink(cliBinary(), link);
    RunOptions options;
    options.wrapper = {"/bin/sh", "-c", "shift; exec \"$0\" \"$@\"", link.string()};
    const fs::path safe = sealSafe({{"a", "1"}});
    StartedRun run = mount(safe, folder(), {}, options);
    const fs::path other = sealSafe({{"b", "2"}}, "other.cx");
    EXPECT_EQ(cli({"list", other.string()}).exitCode, 0);
    EXPECT_TRUE(served(folder())) << "still mounted and served";
    EXPECT_EQ(writeThrough(folder() / "c", "3"), 0);
    EXPECT_EQ(unmount(run, folder()).exitCode, 0);
    EXPECT_EQ(listOf(safe), "0\t1\ta\n1\t1\tc\n");
}

TEST_F(CliMount, TheFolderShowsTheRoomLeft) {
    const fs::path safe = emptySafe();
    StartedRun run = mount(safe, folder());
    struct statvfs shown {};
    struct statvfs disk {};
    ASSERT_EQ(::statvfs(folder().c_str(), &shown), 0);
    ASSERT_EQ(::statvfs(safe.parent_path().c_str(), &disk), 0);
    const double room = static_cast<double>(shown.f_bavail) * static_cast<double>(shown.f_frsize);
    EXPECT_GT(room, 0.0);
    EXPECT_LE(room, static_cast<double>(disk.f_bavail) * static_cast<double>(disk.f_frsize) + 1e6);
    EXPECT_LE(room, 4294967296.0);
    EXPECT_EQ(unmount(run, folder()).exitCode, 0);
}

// An image viewer maps what it shows (read-only, shared); SQLite in WAL mode
// maps its shared-memory file for writing.
TEST_F(CliMount, SharedMapsAndSqliteInWalModeWork) {
    const std::string picture = patternBytes(200'000, 9);
    const fs::path safe = sealSafe({{"photo.jpg", picture}});
    StartedRun run = mount(safe, folder());
    const int fd = ::open((folder() / "photo.jpg").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    void* map = ::mmap(nullptr, picture.size(), PROT_READ, MAP_SHARED, fd, 0);
    ASSERT_NE(map, MAP_FAILED) << std::strerror(errno);
    EXPECT_TRUE(std::string(static_cast<const char*>(map), picture.size()) == picture);
    ::munmap(map, picture.size());
    ::close(fd);

    const std::string database = (folder() / "notes.db").string();
    const std::string script = "sqlite3 " + database +
                               " 'PRAGMA journal_mode=WAL; CREATE TABLE t(x); INSERT INTO t "
                               "VALUES (1),(2),(3);' >/dev/null && sqlite3 " +
                               database + " 'SELECT sum(x) FROM t;'";
    EXPECT_EQ(test::runProgram({"sh", "-c", script + " | grep -qx 6"}), 0)
        << "written and read again in WAL mode";
    EXPECT_EQ(unmount(run, folder()).exitCode, 0);
    EXPECT_TRUE(contains(listOf(safe), "notes.db"));
}

TEST_F(CliMount, FsyncReturnsOnceTheSafeFileHoldsTheFile) {
    const fs::path safe = emptySafe();
    StartedRun run = mount(safe, folder());
    const auto before = fs::file_size(safe);
    const std::string bytes = patternBytes(500'000, 6);
    const int fd = ::open((folder() / "synced.bin").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    EXPECT_EQ(::fsync(fd), 0);
    EXPECT_GE(fs::file_size(safe), before + bytes.size()) << "the safe was written";
    ::close(fd);
    // A kill now loses nothing that fsync returned for.
    ::kill(run.pid, SIGKILL);
    CliSandbox::finish(run);
    EXPECT_EQ(extracted(safe, "synced.bin"), bytes);
}

TEST_F(CliMount, ASafeRewrittenByAnotherProgramIsSaidAndNeverWrittenOver) {
    const fs::path safe = sealSafe({{"a", "1"}});
    const fs::path theirs = sealSafe({{"theirs", "their bytes"}}, "theirs.cx");
    StartedRun run = mount(safe, folder());
    EXPECT_EQ(writeThrough(folder() / "mine.txt", "written before"), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    test::writeFile(safe, readFile(theirs)); // in place, as a sync tool may
    test::folderListing(folder());           // any request notices it
    EXPECT_EQ(readFile(folder() / "mine.txt"), "written before") << "what was written stays";
    EXPECT_EQ(writeThrough(folder() / "later.txt", "x"), EROFS);
    RunResult ended = unmount(run, folder());
    EXPECT_EQ(ended.exitCode, 1);
    EXPECT_TRUE(contains(ended.err, "changed by another program")) << ended.err;
    EXPECT_EQ(readFile(safe), readFile(theirs)) << "their safe stays theirs";
}

// The safe's disk fills up: the last save fails with the system's reason,
// the work is kept and tried again, and it goes only when asked twice.
class FullDisk : public CliMount {
  protected:
    void SetUp() override {
        CliMount::SetUp();
        if (IsSkipped())
            return;
        small = box.root() / "small";
        fs::create_directories(small);
        if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=2m") != 0)
            GTEST_SKIP() << "no tmpfs can be mounted here: " << std::strerror(errno);
    }
    void TearDown() override {
        if (!small.empty())
            ::umount2(small.c_str(), MNT_DETACH);
        CliMount::TearDown();
    }
    // Fills the small disk but for a few KiB.
    void fill() {
        const int fd = ::open((small / "filler").c_str(), O_WRONLY | O_CREAT, 0600);
        const std::string block(4096, 'f');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        ::close(fd);
    }
    fs::path small;
};

TEST_F(FullDisk, AFailedLastSaveKeepsTheWorkUntilItSucceedsOrIsGivenUpTwice) {
    for (bool giveUp : {false, true}) {
        SCOPED_TRACE(giveUp ? "given up" : "space made");
        const fs::path safe = small / "safe.cx";
        fs::copy_file(emptySafe(), safe, fs::copy_options::overwrite_existing);
        StartedRun run = mount(safe, folder());
        EXPECT_EQ(writeThrough(folder() / "work.bin", patternBytes(300'000, 1)), 0);
        fill();
        ::kill(run.pid, SIGINT);
        ASSERT_TRUE(waitUntil([&] { return contains(readFile(run.err), "tried again"); }, 20))
            << readFile(run.err);
        EXPECT_TRUE(contains(readFile(run.err), "No space left on device")) << readFile(run.err);
        EXPECT_FALSE(ended(run.pid)) << "the work is kept";
        if (giveUp) {
            ::kill(run.pid, SIGINT);
            ASSERT_TRUE(
                waitUntil([&] { return contains(readFile(run.err), "Ctrl-C again gives up"); }, 5));
            EXPECT_FALSE(ended(run.pid)) << "asked once only";
            ::kill(run.pid, SIGINT);
        } else {
            fs::remove(small / "filler");
        }
        RunResult done = CliSandbox::finish(run);
        EXPECT_EQ(done.exitCode, giveUp ? 1 : 0) << done.err;
        EXPECT_EQ(contains(done.err, "given up: the changes made in the folder"), giveUp)
            << done.err;
        EXPECT_EQ(listOf(safe), giveUp ? "" : "0\t300000\twork.bin\n");
        fs::remove(small / "filler");
    }
}

// Writes every 5 s, then a kill: the timed save came within a minute of the
// first unsaved write, however busy the folder was.
TEST_F(CliMount, AKillDuringSteadyWritesLosesAtMostTheLastMinute) {
    const fs::path safe = emptySafe();
    StartedRun run = mount(safe, folder());
    const auto start = std::chrono::steady_clock::now();
    int written = 0;
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(66)) {
        EXPECT_EQ(writeThrough(folder() / ("file" + std::to_string(written++)), "x"), 0);
        std::this_thread::sleep_for(std::chrono::seconds(5));
    }
    ::kill(run.pid, SIGKILL);
    CliSandbox::finish(run);
    const std::string list = listOf(safe);
    EXPECT_TRUE(contains(list, "\tfile0\n")) << "written over a minute before the kill: " << list;
}

} // namespace
} // namespace quorvane::clitest
