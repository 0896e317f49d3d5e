// The folder of a sealed safe that keeps a tree: sub-folders, long names and
// file times, held against a plain directory by a random sequence of the
// calls programs make, step by step and again after a remount; and the
// programs people run in it (cp -r, tar x, git). A plain safe refuses a
// folder and says why.

#include "tests/cli/MountFixture.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <random>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane::clitest {
namespace {

using test::patternBytes;

// path, kind, size, content and (for files whose time was set) the time.
std::vector<std::string> snapshot(const fs::path& top, const std::set<std::string>& timed) {
    std::vector<std::string> lines;
    for (const auto& item : fs::recursive_directory_iterator(top)) {
        const std::string path = fs::relative(item.path(), top).string();
        struct stat status {};
        ::lstat(item.path().c_str(), &status);
        std::string line = path + (S_ISDIR(status.st_mode) ? " folder" : " file");
        if (S_ISREG(status.st_mode)) {
            line += " " + std::to_string(status.st_size) + " " + readFile(item.path());
            if (timed.count(path) != 0)
                line += " at " + std::to_string(status.st_mtim.tv_sec) + "." +
                        std::to_string(status.st_mtim.tv_nsec);
        }
        lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

// Each folder's modification time in nanoseconds, the top as ".".
std::map<std::string, std::int64_t> folderTimes(const fs::path& top) {
    std::map<std::string, std::int64_t> times;
    const auto note = [&](const fs::path& path, const std::string& as) {
        struct stat status {};
        ::stat(path.c_str(), &status);
        times[as] = std::int64_t{status.st_mtim.tv_sec} * 1'000'000'000 + status.st_mtim.tv_nsec;
    };
    note(top, ".");
    for (const auto& item : fs::recursive_directory_iterator(top))
        if (item.is_directory())
            note(item.path(), fs::relative(item.path(), top).string());
    return times;
}

// The folders there before and after whose time moved in between.
std::set<std::string> foldersTouched(const std::map<std::string, std::int64_t>& before,
                                     const std::map<std::string, std::int64_t>& after) {
    std::set<std::string> touched;
    for (const auto& [path, time] : after)
        if (const auto was = before.find(path); was != before.end() && was->second != time)
            touched.insert(path);
    return touched;
}

// One random step applied alike to both trees; the errno each gave.
class RandomSteps {
  public:
    explicit RandomSteps(unsigned seed) : random_(seed) {}

    std::string describeAndApply(const fs::path& mounted, const fs::path& plain,
                                 std::pair<int, int>& results) {
        const std::vector<std::string> files = entriesOf(plain, false);
        const std::vector<std::string> folders = entriesOf(plain, true);
        const std::string folder = pick(folders, "");
        const std::string newPath = (folder.empty() ? "" : folder + "/") + freshName();
        const std::string file = pick(files, newPath);
        const std::string any = pick(random_() % 2 != 0 ? files : folders, file);
        std::string step;
        std::function<int(const fs::path&)> apply;
        switch (random_() % 8) {
        case 0:
            step = "create " + newPath;
            apply = [&, bytes = content()](const fs::path& top) {
                return writeThrough(top / newPath, bytes, O_EXCL);
            };
            break;
        case 1:
            step = "write " + file;
            apply = [&, bytes = content(), at = random_() % 5000](const fs::path& top) {
                const int fd = ::open((top / file).c_str(), O_WRONLY);
                const bool done = fd >= 0 && ::pwrite(fd, bytes.data(), bytes.size(),
                                                      static_cast<off_t>(at)) >= 0;
                const int error = done ? 0 : errno;
                return (fd >= 0 && ::close(fd) != 0) ? errno : error;
            };
            break;
        case 2:
            step = "truncate " + file;
            apply = [&, size = random_() % 3000](const fs::path& top) {
                return ::truncate((top / file).c_str(), static_cast<off_t>(size)) == 0 ? 0 : errno;
            };
            break;
        case 3:
            step = "rename " + any + " to " + newPath;
            apply = [&](const fs::path& top) {
                return ::rename((top / any).c_str(), (top / newPath).c_str()) == 0 ? 0 : errno;
            };
            break;
        case 4:
            step = "unlink " + file;
            apply = [&](const fs::path& top) {
                return ::unlink((top / file).c_str()) == 0 ? 0 : errno;
            };
            break;
        case 5:
            step = "mkdir " + newPath;
            apply = [&](const fs::path& top) {
                return ::mkdir((top / newPath).c_str(), 0700) == 0 ? 0 : errno;
            };
            break;
        case 6:
            step = "rmdir " + folder;
            apply = [&](const fs::path& top) {
                return ::rmdir((top / (folder.empty() ? "missing" : folder)).c_str()) == 0 ? 0
                                                                                           : errno;
            };
            break;
        default:
            step = "utimens " + file;
            apply = [&, seconds = 1'000'000'000 + random_() % 100'000'000,
                     nanoseconds = random_() % 1'000'000'000](const fs::path& top) {
                const timespec times[2] = {
                    {0, UTIME_OMIT},
                    {static_cast<time_t>(seconds), static_cast<long>(nanoseconds)}};
                return ::utimensat(AT_FDCWD, (top / file).c_str(), times, 0) == 0 ? 0 : errno;
            };
            if (fs::is_regular_file(plain / file))
                timed.insert(file);
            break;
        }
        results = {apply(mounted), apply(plain)};
        // A write or a move changes which files' times are known alike.
        if (step.starts_with("write") || step.starts_with("truncate") ||
            step.starts_with("create") || step.starts_with("rename") || step.starts_with("unlink"))
            forgetTimesOf(step.starts_with("rename") ? any : file);
        return step;
    }

    std::set<std::string> timed;

  private:
    std::vector<std::string> entriesOf(const fs::path& top, bool folders) {
        std::vector<std::string> found;
        for (const auto& item : fs::recursive_directory_iterator(top))
            if (item.is_directory() == folders)
                found.push_back(fs::relative(item.path(), top).string());
        std::sort(found.begin(), found.end());
        return found;
    }
    std::string pick(const std::vector<std::string>& from, const std::string& otherwise) {
        return from.empty() ? otherwise : from[random_() % from.size()];
    }
    // Short names mostly, sometimes one of the longest a part may have.
    std::string freshName() {
        std::string name = "n" + std::to_string(counter_++);
        if (random_() % 6 == 0)
            name += std::string(255 - name.size() - 4, 'x') + ".txt";
        return name;
    }
    std::string content() {
        return patternBytes(random_() % 6000, static_cast<unsigned>(random_() % 50));
    }
    void forgetTimesOf(const std::string& path) {
        std::erase_if(timed, [&](const std::string& one) {
            return one == path || one.starts_with(path + "/");
        });
    }

    std::mt19937 random_;
    int counter_ = 0;
};

class CliMountTree : public CliMount {
  protected:
    fs::path sealedSafe() {
        const fs::path safe = file("tree.cx");
        const RunResult made = cli({"create", safe.string(), "--sealed"});
        EXPECT_EQ(made.exitCode, 0) << made.err;
        return safe;
    }
};

TEST_F(CliMountTree, ARandomSequenceLeavesTheSameTreeAsAPlainDirectory) {
    const fs::path safe = sealedSafe();
    const fs::path plain = box.files() / "plain";
    fs::create_directories(plain);
    StartedRun run = mount(safe, folder());
    RandomSteps steps(20261208);
    std::map<std::string, int> done; // steps that succeeded, by kind
    for (int i = 0; i < 250; ++i) {
        std::pair<int, int> results;
        const auto mountedTimes = folderTimes(folder());
        const auto plainTimes = folderTimes(plain);
        const std::string step = steps.describeAndApply(folder(), plain, results);
        if (results.second == 0)
            ++done[step.substr(0, step.find(' '))];
        ASSERT_EQ(results.first, results.second)
            << "step " << i << ": " << step << ": " << std::strerror(results.first) << " vs "
            << std::strerror(results.second);
        ASSERT_EQ(snapshot(folder(), steps.timed), snapshot(plain, steps.timed))
            << "after step " << i << ": " << step;
        // A folder's time moves when a name in it comes or goes, as on the disk.
        ASSERT_EQ(foldersTouched(mountedTimes, folderTimes(folder())),
                  foldersTouched(plainTimes, folderTimes(plain)))
            << "folder times after step " << i << ": " << step;
    }
    auto keptTimes = folderTimes(folder());
    keptTimes.erase("."); // the top has no entry in the safe: its time lasts while mounted
    RunResult ended = unmount(run, folder());
    EXPECT_EQ(ended.exitCode, 0) << ended.err;
    run = mount(safe, folder());
    EXPECT_EQ(snapshot(folder(), steps.timed), snapshot(plain, steps.timed)) << "after a remount";
    auto remountedTimes = folderTimes(folder());
    remountedTimes.erase(".");
    EXPECT_EQ(remountedTimes, keptTimes) << "folder times after a remount";
    EXPECT_GT(steps.timed.size(), 0u) << "no time was kept to compare";
    for (const char* kind :
         {"create", "write", "truncate", "rename", "unlink", "mkdir", "rmdir", "utimens"})
        EXPECT_GT(done[kind], 0) << kind << " never succeeded: the sequence tried too little";
    ended = unmount(run, folder());
    EXPECT_EQ(ended.exitCode, 0) << ended.err;
}

// What people run in such a folder, each checked by its own means and by the
// tree it leaves, again after a remount.
TEST_F(CliMountTree, CopiesArchivesAndGitWorkInTheFolder) {
    const fs::path safe = sealedSafe();
    const fs::path source = box.files() / "source";
    fs::create_directories(source / "docs" / "2025");
    writeFile(source / "docs" / "2025" / (std::string(240, 'L') + ".pdf"), patternBytes(70000, 3));
    writeFile(source / "docs" / "notes.txt", "notes");
    writeFile(source / "readme", "readme");
    fs::create_directories(source / "empty");
    const fs::path archive = box.files() / "source.tar";
    ASSERT_EQ(test::runProgram({"tar", "-C", source.string(), "-cf", archive.string(), "."}), 0);
    StartedRun run = mount(safe, folder());
    const fs::path copied = folder() / "copied";
    const fs::path unpacked = folder() / "unpacked";
    const fs::path repo = folder() / "repo";
    const fs::path synced = folder() / "synced";
    fs::create_directories(unpacked);
    const std::string git = "git -c user.name=t -c user.email=t@t";
    struct Command {
        const char* what;
        std::string line;
    };
    const Command commands[] = {
        {"cp -rp", "cp -rp " + source.string() + " " + copied.string()},
        {"tar x", "tar -C " + unpacked.string() + " -xf " + archive.string()},
        {"git init", "git init -q " + repo.string()},
        {"git add and commit", "cp -r " + source.string() + "/. " + repo.string() + " && cd " +
                                   repo.string() + " && git add -A && " + git +
                                   " commit -qm first"},
        {"git status is clean",
         "cd " + repo.string() + " && test -z \"$(git status --porcelain)\""},
        {"git log", "cd " + repo.string() + " && git log --oneline | grep -q first"},
        {"rsync -a", "rsync -a " + source.string() + "/ " + synced.string() + "/"},
        // Only the owner's mode bits are kept: rsync may set the others
        // again, but it copies no file.
        {"a second rsync -a copies nothing",
         "rsync -a --stats " + source.string() + "/ " + synced.string() +
             "/ | grep -q 'Number of regular files transferred: 0'"},
        {"diff of the copy", "diff -r " + source.string() + " " + copied.string()},
        {"diff of the archive", "diff -r " + source.string() + " " + unpacked.string()},
    };
    for (const Command& command : commands)
        EXPECT_EQ(test::runProgram({"sh", "-c", command.line}), 0) << command.what;
    std::set<std::string> timed;
    for (const auto& item : fs::recursive_directory_iterator(source))
        if (item.is_regular_file())
            timed.insert(fs::relative(item.path(), source).string());
    EXPECT_EQ(snapshot(copied, timed), snapshot(source, timed)) << "cp -p keeps the times";
    const std::vector<std::string> before = snapshot(folder(), {});
    RunResult ended = unmount(run, folder());
    EXPECT_EQ(ended.exitCode, 0) << ended.err;
    run = mount(safe, folder());
    EXPECT_EQ(snapshot(folder(), {}), before) << "after a remount";
    EXPECT_EQ(snapshot(copied, timed), snapshot(source, timed)) << "times after a remount";
    EXPECT_EQ(test::runProgram(
                  {"sh", "-c",
                   "cd " + repo.string() +
                       " && git fsck --no-progress && test -z \"$(git status --porcelain)\""}),
              0);
    ended = unmount(run, folder());
    EXPECT_EQ(ended.exitCode, 0) << ended.err;
}

// A file past 4 GiB (sparse here: the bytes at its end) keeps its size and
// its bytes across a remount, and when it is written again.
TEST_F(CliMountTree, AFileOverFourGibibytesKeepsItsSizeAndBytes) {
    const fs::path safe = sealedSafe();
    constexpr off_t End = (off_t{4} << 30) + 4096;
    StartedRun run = mount(safe, folder());
    const int fd = ::open((folder() / "big.bin").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::pwrite(fd, "the end", 7, End), 7);
    EXPECT_EQ(::close(fd), 0);
    RunResult ended = unmount(run, folder());
    EXPECT_EQ(ended.exitCode, 0) << ended.err;
    run = mount(safe, folder());
    EXPECT_EQ(fs::file_size(folder() / "big.bin"), static_cast<std::uintmax_t>(End + 7));
    const int again = ::open((folder() / "big.bin").c_str(), O_RDONLY);
    char tail[8] = {};
    EXPECT_EQ(::pread(again, tail, 7, End), 7);
    ::close(again);
    EXPECT_STREQ(tail, "the end");
    // A write at its start keeps all the rest (the list's row has only the
    // low 32 bits of the size).
    EXPECT_EQ(writeThrough(folder() / "big.bin", "THE START", 0), 0);
    EXPECT_EQ(fs::file_size(folder() / "big.bin"), static_cast<std::uintmax_t>(End + 7));
    ended = unmount(run, folder());
    EXPECT_EQ(ended.exitCode, 0) << ended.err;
    run = mount(safe, folder());
    EXPECT_EQ(fs::file_size(folder() / "big.bin"), static_cast<std::uintmax_t>(End + 7));
    const int last = ::open((folder() / "big.bin").c_str(), O_RDONLY);
    char start[10] = {};
    EXPECT_EQ(::pread(last, start, 9, 0), 9);
    EXPECT_EQ(::pread(last, tail, 7, End), 7);
    ::close(last);
    EXPECT_STREQ(start, "THE START");
    EXPECT_STREQ(tail, "the end");
    ended = unmount(run, folder());
    EXPECT_EQ(ended.exitCode, 0) << ended.err;
}

TEST_F(CliMountTree, APlainSafeRefusesAFolderAndSaysWhy) {
    const fs::path safe = sealSafe({{"a.txt", "alpha"}});
    StartedRun run = mount(safe, folder());
    errno = 0;
    EXPECT_EQ(::mkdir((folder() / "sub").c_str(), 0700), -1);
    EXPECT_EQ(errno, EPERM);
    EXPECT_EQ(writeThrough(folder() / "b.txt", "bravo"), 0);
    RunResult ended = unmount(run, folder());
    EXPECT_EQ(ended.exitCode, 0) << ended.err;
    EXPECT_TRUE(contains(ended.err, "a plain safe keeps one flat list of files")) << ended.err;
    EXPECT_EQ(listOf(safe), "0\t5\ta.txt\n1\t5\tb.txt\n");
}

// A name's inode number is the same after the kernel forgot it and after a
// remount (git reads every file again whose number moved), and no two names
// share one.
TEST_F(CliMountTree, ANamesNumberStaysAcrossARemount) {
    struct Case {
        const char* what;
        bool tree;
        std::vector<std::string> names; // a name ending in "/" is a folder
    } const cases[] = {
        {"sealed", true, {"docs/", "docs/2025/", "docs/2025/return.pdf", "readme"}},
        {"plain", false, {"a.txt", "b.txt"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path safe = c.tree ? sealedSafe() : sealSafe({});
        StartedRun run = mount(safe, folder());
        for (const std::string& name : c.names) {
            if (name.back() == '/')
                ASSERT_TRUE(fs::create_directory(folder() / name)) << name;
            else
                ASSERT_EQ(writeThrough(folder() / name, name), 0) << name;
        }
        // Asked in another order after the remount: the kernel meets the
        // names in another order then.
        const auto numbers = [&](bool reversed) {
            std::vector<std::string> names = c.names;
            if (reversed)
                std::reverse(names.begin(), names.end());
            std::map<std::string, ino_t> all;
            for (const std::string& name : names) {
                struct stat status {};
                EXPECT_EQ(::stat((folder() / name).c_str(), &status), 0) << name;
                all[name] = status.st_ino;
            }
            return all;
        };
        const std::map<std::string, ino_t> first = numbers(false);
        std::set<ino_t> distinct{1};
        for (const auto& [name, number] : first)
            EXPECT_TRUE(distinct.insert(number).second) << name << " shares " << number;
        RunResult ended = unmount(run, folder());
        ASSERT_EQ(ended.exitCode, 0) << ended.err;
        run = mount(safe, folder());
        EXPECT_EQ(numbers(true), first);
        ended = unmount(run, folder());
        EXPECT_EQ(ended.exitCode, 0) << ended.err;
    }
}

} // namespace
} // namespace quorvane::clitest
