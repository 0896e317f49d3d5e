// Working folders left by processes that did not end properly: which are
// removed at the next start, and which are never touched.

#include "storage/files/AbandonedFolders.h"
#include "storage/files/ExtractedFile.h"
#include "storage/files/FreshFile.h"
#include "storage/files/WorkingDirectory.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quorvane::test {
namespace {

namespace fs = std::filesystem;

bool present(const fs::path& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

// A working folder as a program makes it: 0700, a lock file and a working copy.
fs::path makeFolder(const fs::path& parent, const std::string& name) {
    const fs::path folder = parent / name;
    fs::create_directory(folder);
    ::chmod(folder.c_str(), 0700);
    writeFile(folder / WorkingFolderLock, "");
    writeFile(folder / "temp2", "plaintext");
    return folder;
}

// Holds the folder's lock, as a live program does.
struct LockHolder {
    int fd = -1;
    ~LockHolder() {
        if (fd >= 0)
            ::close(fd);
    }
    void hold(const fs::path& folder) {
        fd = ::open((folder / WorkingFolderLock).c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    }
};

struct Case {
    const char* what;
    const char* name;
    // Turns the made folder into the case; victim is a file outside it.
    std::function<void(const fs::path& folder, const fs::path& victim, LockHolder&)> shape;
    bool removed;
};

TEST(AbandonedFolders, OnlyUnlockedFoldersThatArePlainlyOursAreRemoved) {
    const std::vector<Case> cases = {
        {"a final folder with its lock free", "quorvane-Ab12Cd", {}, true},
        {"a staging folder with its lock free", ".quorvane-staging-Ab12Cd", {}, true},
        {"an empty staging folder, before its lock", ".quorvane-staging-Ef34Gh",
         [](const fs::path& folder, const fs::path&, LockHolder&) {
             fs::remove(folder / WorkingFolderLock);
             fs::remove(folder / "temp2");
         },
         true},
        {"a final folder whose lock is held", "quorvane-Ij56Kl",
         [](const fs::path& folder, const fs::path&, LockHolder& holder) { holder.hold(folder); },
         false},
        {"a staging folder whose lock is held", ".quorvane-staging-Ij56Kl",
         [](const fs::path& folder, const fs::path&, LockHolder& holder) { holder.hold(folder); },
         false},
        {"a final folder without a lock file (an older make may work in it)", "quorvane-Mn78Op",
         [](const fs::path& folder, const fs::path&, LockHolder&) {
             fs::remove(folder / WorkingFolderLock);
         },
         false},
        {"a folder others may read", "quorvane-Qr90St",
         [](const fs::path& folder, const fs::path&, LockHolder&) {
             ::chmod(folder.c_str(), 0755);
         },
         false},
        {"a link in the folder", "quorvane-Uv12Wx",
         [](const fs::path& folder, const fs::path& victim, LockHolder&) {
             fs::create_symlink(victim, folder / "temp");
         },
         false},
        {"a folder in the folder", "quorvane-Yz34Ab",
         [](const fs::path& folder, const fs::path&, LockHolder&) {
             fs::create_directory(folder / "inner");
         },
         false},
        {"a lock file that is a link", "quorvane-Cd56Ef",
         [](const fs::path& folder, const fs::path& victim, LockHolder&) {
             fs::remove(folder / WorkingFolderLock);
             fs::create_symlink(victim, folder / WorkingFolderLock);
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder parent;
        const fs::path victim = parent.write("victim", "precious");
        const fs::path folder = makeFolder(parent.path(), c.name);
        LockHolder holder;
        if (c.shape)
            c.shape(folder, victim, holder);
        const SweepCount count = removeAbandonedWorkingFolders(parent.path());
        EXPECT_EQ(present(folder), !c.removed);
        EXPECT_EQ(count.removed, c.removed ? 1 : 0);
        EXPECT_EQ(readFile(victim), "precious");
    }
}

TEST(AbandonedFolders, ALinkUnderAWorkingFoldersNameIsNotFollowed) {
    TempFolder parent;
    const fs::path elsewhere = makeFolder(parent.path(), "elsewhere");
    fs::create_directory_symlink(elsewhere, parent / "quorvane-Gh78Ij");
    EXPECT_EQ(removeAbandonedWorkingFolders(parent.path()).removed, 0);
    EXPECT_EQ(folderListing(elsewhere), (std::vector<std::string>{"lock", "temp2"}));
    EXPECT_TRUE(present(parent / "quorvane-Gh78Ij"));
}

// The folder a live process makes: under its final name from the first
// moment, its lock is held, and a sweep leaves it and its files alone.
TEST(AbandonedFolders, AFolderJustMadeIsLockedUnderItsFinalNameAndKept) {
    TempFolder parent;
    ::setenv("TMPDIR", parent.path().c_str(), 1);
    {
        WorkingDirectory directory;
        ::unsetenv("TMPDIR");
        EXPECT_EQ(folderListing(parent.path()),
                  std::vector<std::string>{directory.path().filename().string()})
            << "no staging folder left";
        const int lock = ::open((directory.path() / WorkingFolderLock).c_str(), O_RDONLY);
        ASSERT_GE(lock, 0);
        EXPECT_NE(::flock(lock, LOCK_EX | LOCK_NB), 0) << "the lock is free";
        ::close(lock);
        writeFile(directory.anchored() / "temp2", "plaintext");
        EXPECT_EQ(removeAbandonedWorkingFolders(parent.path()).leftAlone, 1);
        EXPECT_EQ(readFile(directory.anchored() / "temp2"), "plaintext");
    }
    EXPECT_EQ(folderListing(parent.path()), std::vector<std::string>{});
}

// While one process makes and removes folder after folder, another looks at
// every folder under a final name it finds: none may have its lock free
// while the folder and its lock file are still there.
TEST(AbandonedFolders, NoFinalFolderIsEverSeenUnlocked) {
    TempFolder parent;
    TempFolder control;
    const std::filesystem::path enough = control / "enough";
    // The maker goes on until enough folders were looked at (or a bound is
    // reached), so that a quick machine cannot leave the check with nothing.
    const pid_t maker = startChild([&] {
        ::setenv("TMPDIR", parent.path().c_str(), 1);
        for (int i = 0; i < 100000 && !std::filesystem::exists(enough); ++i)
            WorkingDirectory directory;
    });
    int looked = 0;
    int unlocked = 0;
    int status = 0;
    while (::waitpid(maker, &status, WNOHANG) == 0) {
        for (const std::string& name : folderListing(parent.path())) {
            if (!name.starts_with(WorkingFolderPrefix))
                continue;
            const int folder = ::open((parent / name).c_str(), O_RDONLY | O_DIRECTORY);
            const int lock = folder < 0 ? -1 : ::openat(folder, WorkingFolderLock, O_RDONLY);
            struct stat lockStatus {};
            struct stat folderStatus {};
            if (lock >= 0) {
                ++looked;
                if (::flock(lock, LOCK_EX | LOCK_NB) == 0 && ::fstat(lock, &lockStatus) == 0 &&
                    lockStatus.st_nlink > 0 && ::fstat(folder, &folderStatus) == 0 &&
                    folderStatus.st_nlink > 0)
                    ++unlocked;
                ::close(lock);
            }
            if (folder >= 0)
                ::close(folder);
        }
        if (looked >= 200 && !std::filesystem::exists(enough))
            writeFile(enough, "");
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(unlocked, 0) << "of " << looked << " folders looked at";
    EXPECT_GT(looked, 0) << "no folder could be looked at while it existed";
}

// A process killed outright (SIGKILL runs nothing on the way out) while a
// file of its stood under a hidden name beside its place, complete: the next
// start's sweep removes that file by the note in the dead process's working
// folder, and nothing else of the folder it was in. Killed before the file
// had a hidden name, or after it took its own, nothing was left to remove.
TEST(AbandonedFolders, AFileLeftUnderAHiddenNameByAKilledProcessGoesAtTheNextStart) {
    enum class KilledAt { Unnamed, Hidden, Placed };
    for (const KilledAt at : {KilledAt::Unnamed, KilledAt::Hidden, KilledAt::Placed}) {
        TempFolder parent;
        TempFolder destination;
        destination.write("report.txt", "the user's old text");
        destination.write("other.txt", "kept");
        const int code = runInChild([&] {
            ::setenv("TMPDIR", parent.path().c_str(), 1);
            WorkingDirectory directory;
            const int folder = ::open(destination.path().c_str(), O_RDONLY | O_DIRECTORY);
            FreshFile fresh(folder, [] { return std::string(".hidden-copy"); });
            ASSERT_EQ(fresh.make(O_WRONLY), 0);
            ASSERT_EQ(::write(fresh.fd(), "plaintext", 9), 9);
            if (at != KilledAt::Unnamed) {
                ASSERT_EQ(fresh.nameHidden(), 0);
            }
            if (at == KilledAt::Placed) {
                ASSERT_EQ(fresh.renameTo("report.txt"), 0);
            }
            ::raise(SIGKILL);
        });
        ASSERT_EQ(code, 128 + SIGKILL);
        const bool hiddenLeft = present(destination / ".hidden-copy");
        EXPECT_EQ(hiddenLeft, at == KilledAt::Hidden) << "before the sweep";
        EXPECT_EQ(removeAbandonedWorkingFolders(parent.path()).removed, 1);
        EXPECT_EQ(folderListing(destination.path()),
                  (std::vector<std::string>{"other.txt", "report.txt"}));
        EXPECT_EQ(readFile(destination / "report.txt"),
                  at == KilledAt::Placed ? "plaintext" : "the user's old text");
        EXPECT_EQ(folderListing(parent.path()), std::vector<std::string>{});
    }
}

// A note names its file by device and inode too: a file that has taken the
// hidden name since (another program's, or a new one of ours) stays.
TEST(AbandonedFolders, ANoteRemovesOnlyTheVeryFileItNoted) {
    TempFolder parent;
    TempFolder destination;
    const int code = runInChild([&] {
        ::setenv("TMPDIR", parent.path().c_str(), 1);
        WorkingDirectory directory;
        const int folder = ::open(destination.path().c_str(), O_RDONLY | O_DIRECTORY);
        FreshFile fresh(folder, [] { return std::string(".hidden-copy"); });
        ASSERT_EQ(fresh.make(O_WRONLY), 0);
        ASSERT_EQ(fresh.nameHidden(), 0);
        ::raise(SIGKILL);
    });
    ASSERT_EQ(code, 128 + SIGKILL);
    destination.write("theirs", "someone else's");
    ASSERT_EQ(::rename((destination / "theirs").c_str(), (destination / ".hidden-copy").c_str()),
              0);
    EXPECT_EQ(removeAbandonedWorkingFolders(parent.path()).removed, 1);
    EXPECT_EQ(readFile(destination / ".hidden-copy"), "someone else's");
}

// Extracting under a new name, the file never has any other name: a kill
// while its bytes go in leaves nothing, even without a sweep.
TEST(AbandonedFolders, AnEntryExtractedUnderANewNameNeverHasAHiddenName) {
    TempFolder destination;
    const int code = runInChild([&] {
        ExtractFolder folder(destination.path().string(), "");
        placeExtractedFile(folder, "new.txt", [&](std::ostream& out) {
            out << "plaintext" << std::flush;
            EXPECT_EQ(folderListing(destination.path()), std::vector<std::string>{});
            ::raise(SIGKILL);
            return true;
        });
    });
    ASSERT_EQ(code, 128 + SIGKILL);
    EXPECT_EQ(folderListing(destination.path()), std::vector<std::string>{});
}

} // namespace
} // namespace quorvane::test
