// mount SAFE DIR on real mounts: what programs see in the folder, what the
// safe holds once the folder is closed, and what a killed tool leaves.

#include "tests/cli/MountFixture.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace quorvane::clitest {
namespace {

using test::patternBytes;

TEST_F(CliMount, BytesCopiedInAndOutAreTheSameAtEverySize) {
    const std::vector<std::size_t> sizes = {0, 1, 4095, 4096, 4097, MiB - 1, MiB, MiB + 1};
    std::vector<StoredFile> stored;
    for (std::size_t size : sizes)
        stored.push_back({"stored-" + std::to_string(size), patternBytes(size, 7)});
    const fs::path safe = sealSafe(stored);
    StartedRun run = mount(safe, folder());
    for (std::size_t size : sizes) {
        SCOPED_TRACE(size);
        const std::string name = std::to_string(size);
        EXPECT_EQ(readFile(folder() / ("stored-" + name)), patternBytes(size, 7)) << "copy out";
        EXPECT_EQ(writeThrough(folder() / ("new-" + name), patternBytes(size, 3)), 0);
        EXPECT_EQ(fs::file_size(folder() / ("new-" + name)), size);
        EXPECT_EQ(readFile(folder() / ("new-" + name)), patternBytes(size, 3)) << "copy in";
    }
    RunResult ended = unmount(run, folder());
    EXPECT_EQ(ended.exitCode, 0) << ended.err;
    for (std::size_t size : sizes) {
        SCOPED_TRACE(size);
        EXPECT_EQ(extracted(safe, "new-" + std::to_string(size)), patternBytes(size, 3));
        EXPECT_EQ(extracted(safe, "stored-" + std::to_string(size)), patternBytes(size, 7));
    }
}

// Office programs save by writing a temporary file, syncing it and renaming
// it over the document; some rename before they close it.
TEST_F(CliMount, AnEditorsSaveReplacesTheDocument) {
    for (bool renameWhileOpen : {false, true}) {
        SCOPED_TRACE(renameWhileOpen ? "renamed while open" : "renamed after close");
        const fs::path safe = sealSafe({{"report.odt", "old text"}, {"other", "kept"}});
        StartedRun run = mount(safe, folder());
        const std::string saved = patternBytes(70'000, 5);
        const fs::path temporary = folder() / ".~lock-report.tmp";
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(::write(fd, saved.data(), saved.size()), static_cast<ssize_t>(saved.size()));
        EXPECT_EQ(::fsync(fd), 0);
        if (!renameWhileOpen) {
            EXPECT_EQ(::close(fd), 0);
        }
        EXPECT_EQ(::rename(temporary.c_str(), (folder() / "report.odt").c_str()), 0);
        if (renameWhileOpen) {
            EXPECT_EQ(::close(fd), 0);
        }
        EXPECT_EQ(readFile(folder() / "report.odt"), saved);
        EXPECT_EQ(test::folderListing(folder()), (std::vector<std::string>{"other", "report.odt"}));
        EXPECT_EQ(unmount(run, folder()).exitCode, 0);
        EXPECT_EQ(listOf(safe), "0\t4\tother\n1\t70000\treport.odt\n");
        EXPECT_EQ(extracted(safe, "report.odt"), saved);
    }
}

TEST_F(CliMount, TwoReadersAtOnceEachGetTheirBytes) {
    const std::string content = patternBytes(3 * MiB + 1, 11);
    const fs::path safe = sealSafe({{"movie.bin", content}});
    StartedRun run = mount(safe, folder());
    std::string first;
    std::string second;
    auto readInPieces = [&](std::string& into, std::size_t piece) {
        const int fd = ::open((folder() / "movie.bin").c_str(), O_RDONLY);
        std::vector<char> buffer(piece);
        for (ssize_t got; (got = ::read(fd, buffer.data(), piece)) > 0;)
            into.append(buffer.data(), static_cast<std::size_t>(got));
        ::close(fd);
    };
    std::thread a([&] { readInPieces(first, 4096); });
    std::thread b([&] { readInPieces(second, 131'071); });
    a.join();
    b.join();
    EXPECT_TRUE(first == content) << "first reader";
    EXPECT_TRUE(second == content) << "second reader";
    EXPECT_EQ(unmount(run, folder()).exitCode, 0);
}

TEST_F(CliMount, DeletesAndRenamesReachTheSafe) {
    struct Case {
        const char* what;
        std::function<int(const fs::path&)> change;
        const char* list;
    };
    const std::vector<Case> cases = {
        {"delete", [](const fs::path& d) { return ::unlink((d / "b").c_str()); },
         "0\t1\ta\n1\t3\tc\n"},
        {"rename", [](const fs::path& d) { return ::rename((d / "b").c_str(), (d / "z").c_str()); },
         "0\t1\ta\n1\t2\tz\n2\t3\tc\n"},
        {"rename over another",
         [](const fs::path& d) { return ::rename((d / "a").c_str(), (d / "c").c_str()); },
         "0\t1\tc\n1\t2\tb\n"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        const fs::path safe = sealSafe({{"a", "1"}, {"b", "22"}, {"c", "333"}});
        StartedRun run = mount(safe, folder());
        EXPECT_EQ(test.change(folder()), 0) << std::strerror(errno);
        EXPECT_EQ(unmount(run, folder()).exitCode, 0);
        EXPECT_EQ(listOf(safe), test.list);
    }
}

TEST_F(CliMount, RefusalsComeWithTheirErrno) {
    const fs::path safe = sealSafe({{"kept.txt", "kept"}});
    const std::string longest(50, 'n');
    struct Case {
        const char* what;
        bool readOnly;
        std::function<int(const fs::path&)> attempt; // errno, 0 when it went through
        int expected;
    };
    auto call = [](int result) { return result == 0 ? 0 : errno; };
    const std::vector<Case> cases = {
        {"sub-folder", false,
         [&](const fs::path& d) { return call(::mkdir((d / "sub").c_str(), 0700)); }, EPERM},
        {"name of 51 bytes", false,
         [&](const fs::path& d) { return writeThrough(d / (longest + "x"), "x"); }, ENAMETOOLONG},
        {"name of 50 bytes", false,
         [&](const fs::path& d) { return writeThrough(d / longest, "x"); }, 0},
        {"rename to 51 bytes", false,
         [&](const fs::path& d) {
             return call(::rename((d / "kept.txt").c_str(), (d / (longest + "x")).c_str()));
         },
         ENAMETOOLONG},
        {"past 4 GiB", false,
         [&](const fs::path& d) {
             const int fd = ::open((d / "big").c_str(), O_WRONLY | O_CREAT, 0600);
             const int result = ::pwrite(fd, "x", 1, 0x100000000LL) == 1 ? 0 : errno;
             ::close(fd);
             return result;
         },
         EFBIG},
        {"truncate past 4 GiB", false,
         [&](const fs::path& d) {
             return call(::truncate((d / "kept.txt").c_str(), 0x100000000LL));
         },
         EFBIG},
        {"write, read-only", true, [&](const fs::path& d) { return writeThrough(d / "new", "x"); },
         EROFS},
        {"change, read-only", true,
         [&](const fs::path& d) { return writeThrough(d / "kept.txt", "x", O_APPEND); }, EROFS},
        {"delete, read-only", true,
         [&](const fs::path& d) { return call(::unlink((d / "kept.txt").c_str())); }, EROFS},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        StartedRun run = mount(safe, folder(),
                               test.readOnly ? std::vector<std::string>{"--read-only"}
                                             : std::vector<std::string>{});
        const int error = test.attempt(folder());
        EXPECT_EQ(error, test.expected) << std::strerror(error);
        EXPECT_EQ(unmount(run, folder()).exitCode, 0);
        EXPECT_TRUE(contains(listOf(safe), "kept.txt")) << "the refusal changed nothing";
        if (test.expected == 0)
            cli({"delete", safe.string(), "--name", longest});
    }
}

TEST_F(CliMount, ASafeMountedOnceIsRefusedToASecondTool) {
    const fs::path safe = sealSafe({{"a", "1"}});
    StartedRun run = mount(safe, folder());
    const fs::path second = box.files() / "second";
    fs::create_directories(second);
    RunResult again = cli({"mount", safe.string(), second.string()});
    EXPECT_EQ(again.exitCode, 1) << again.err;
    EXPECT_FALSE(isMounted(second));
    RunResult add = cli({"add", safe.string(), box.writeFile("b", "2").string()});
    EXPECT_EQ(add.exitCode, 1) << add.err;
    EXPECT_EQ(unmount(run, folder()).exitCode, 0);
    EXPECT_EQ(listOf(safe), "0\t1\ta\n");
}

TEST_F(CliMount, CtrlCAndSigtermUnmountAndWriteTheSafe) {
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        const fs::path safe = emptySafe();
        StartedRun run = mount(safe, folder());
        EXPECT_EQ(writeThrough(folder() / "note.txt", "written"), 0);
        ::kill(run.pid, signal);
        RunResult ended = CliSandbox::finish(run);
        EXPECT_EQ(ended.exitCode, 0) << ended.err;
        EXPECT_FALSE(isMounted(folder()));
        EXPECT_EQ(listOf(safe), "0\t7\tnote.txt\n");
    }
}

// A file still being written when Ctrl-C comes is waited for, and stored.
TEST_F(CliMount, CtrlCWaitsForAFileStillOpen) {
    const fs::path safe = emptySafe();
    StartedRun run = mount(safe, folder());
    const int fd = ::open((folder() / "late.txt").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ::kill(run.pid, SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(ended(run.pid));
    EXPECT_EQ(::write(fd, "late", 4), 4);
    EXPECT_EQ(::close(fd), 0);
    RunResult done = CliSandbox::finish(run);
    EXPECT_EQ(done.exitCode, 0) << done.err;
    EXPECT_EQ(listOf(safe), "0\t4\tlate.txt\n");
}

TEST_F(CliMount, AKilledToolsMountIsCleanedAtTheNextStartAndTheSafeIsAsSaved) {
    for (const char* next : {"list", "mount"}) {
        SCOPED_TRACE(next);
        const fs::path safe = sealSafe({{"before", "saved"}});
        StartedRun run = mount(safe, folder());
        EXPECT_EQ(writeThrough(folder() / "unsaved", "lost"), 0);
        ::kill(run.pid, SIGKILL);
        CliSandbox::finish(run);
        EXPECT_TRUE(isMounted(folder())) << "the kernel keeps the dead mount";
        if (std::string(next) == "list") {
            EXPECT_EQ(listOf(safe), "0\t5\tbefore\n");
            EXPECT_FALSE(isMounted(folder()));
            std::error_code failed;
            EXPECT_TRUE(fs::is_empty(folder(), failed)) << failed.message();
        } else {
            // A new mount on the same folder: the dead one goes first.
            StartedRun again = mount(safe, folder());
            EXPECT_EQ(test::folderListing(folder()), std::vector<std::string>{"before"});
            EXPECT_EQ(unmount(again, folder()).exitCode, 0);
            EXPECT_FALSE(isMounted(folder()));
        }
    }
}

TEST_F(CliMount, EntriesOfOneNameShowAsExtractingAllNamesThem) {
    const fs::path safe =
        sealSafe({{"a.txt", "first"}, {"a.txt", "second"}, {"a (2).txt", "third"}, {"b", "4"}});
    const fs::path out = box.files() / "extracted";
    fs::create_directories(out);
    ASSERT_EQ(cli({"extract", safe.string(), out.string()}).exitCode, 0);
    StartedRun run = mount(safe, folder());
    const std::vector<std::string> names = test::folderListing(out);
    EXPECT_EQ(test::folderListing(folder()), names);
    for (const std::string& name : names)
        EXPECT_EQ(readFile(folder() / name), readFile(out / name)) << name;
    EXPECT_EQ(unmount(run, folder()).exitCode, 0);
}

} // namespace
} // namespace quorvane::clitest
