#pragma once

// The tool's mount on real mounts: starting it on a safe, waiting until the
// folder is served, unmounting, and reading what the safe then holds.

#include "tests/cli/CliFixture.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace quorvane::clitest {

namespace fs = std::filesystem;

inline constexpr std::size_t MiB = 1u << 20;

inline bool fuseUsable() {
    const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    ::close(fd);
    return ::geteuid() == 0 || ::access("/usr/bin/fusermount3", X_OK) == 0;
}

inline bool isMounted(const fs::path& dir) {
    std::ifstream mountinfo("/proc/self/mountinfo");
    for (std::string line; std::getline(mountinfo, line);)
        if (contains(line, " " + dir.string() + " ") && contains(line, " fuse.quorvane "))
            return true;
    return false;
}

// Mounted and served: a dead mount left before (its server killed) fails
// every access with ENOTCONN.
inline bool served(const fs::path& dir) {
    struct stat status {};
    return isMounted(dir) && ::stat(dir.c_str(), &status) == 0;
}

inline bool ended(pid_t pid) {
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG | WNOWAIT) == pid;
}

// Writes bytes through the folder as a program does: open, write, close;
// errno of the first call that failed, 0 when all went through.
inline int writeThrough(const fs::path& path, const std::string& bytes, int flags = O_TRUNC) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | flags, 0644);
    if (fd < 0)
        return errno;
    int error = 0;
    if (!bytes.empty() &&
        ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    return error;
}

class CliMount : public CliTest {
  protected:
    void SetUp() override {
        CliTest::SetUp();
        if (!fuseUsable())
            GTEST_SKIP() << "FUSE is not usable here (no /dev/fuse, or no fusermount3 for a "
                            "user other than root): the folder cannot be mounted";
    }

    void TearDown() override {
        // A test that failed half-way must not leave a mount behind.
        for (const fs::path& dir : dirs)
            if (isMounted(dir))
                test::runProgram({"fusermount3", "-u", "-z", dir.string()});
        CliTest::TearDown();
    }

    // Starts the tool on safe and waits until the folder is there.
    StartedRun mount(const fs::path& safe, const fs::path& dir, std::vector<std::string> extra = {},
                     RunOptions options = {}) {
        std::error_code deadMount; // a dead mount here is the tool's to clean
        fs::create_directories(dir, deadMount);
        dirs.push_back(dir);
        std::vector<std::string> args = {"mount", safe.string(), dir.string(), "--password-file",
                                         passwordFile};
        args.insert(args.end(), extra.begin(), extra.end());
        options.killAfterSeconds = 300;
        StartedRun started = box.start(args, options);
        for (int tries = 0; tries < 1000 && !served(dir) && !ended(started.pid); ++tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_TRUE(served(dir) && !ended(started.pid)) << readFile(started.err);
        return started;
    }

    RunResult unmount(const StartedRun& started, const fs::path& dir) {
        EXPECT_EQ(test::runProgram({"fusermount3", "-u", dir.string()}), 0);
        return CliSandbox::finish(started);
    }

    // The entry's bytes as extract writes them.
    std::string extracted(const fs::path& safe, const std::string& name) {
        const fs::path out = box.root() / "out";
        fs::remove_all(out);
        fs::create_directories(out);
        RunResult result = cli({"extract", safe.string(), out.string(), "--name", name});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        return readFile(out / name);
    }

    fs::path emptySafe() { return sealSafe({}); }
    fs::path folder() const { return box.files() / "folder"; }

    std::vector<fs::path> dirs;
};

} // namespace quorvane::clitest
