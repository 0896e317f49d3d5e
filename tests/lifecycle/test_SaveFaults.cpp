// Faults during a save, each provoked in a child process: a full disk, a folder
// that became read-only or vanished, and the process killed in the middle. The
// safe file must always be the old one whole or the new one whole.

#include "tests/lifecycle/LifecycleFixture.h"
#include "tests/support/ChildProcess.h"

#include <chrono>
#include <csignal>
#include <fstream>
#include <grp.h>
#include <iostream>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane::test {
namespace {

using Events = std::vector<std::string>;

// The message names the system's reason on its second line.
Events failedSaveBecause(const std::string& reason) {
    return {"progress:Saving Safe Please Wait...", "hide",
            "message:Error:Failed to Save file!\n" + reason};
}
const Events savedAndConfirmed = {"progress:Saving Safe Please Wait...", "hide",
                                  "message:Success!:Changes Saved"};

class SaveFaultTest : public LifecycleTest {
  protected:
    void SetUp() override {
        LifecycleTest::SetUp();
        folder = root / "safes";
        std::filesystem::create_directory(folder);
        safe = folder / "box.cx";
        // A few MiB, so that a save takes many writes and a kill can land inside it.
        original = containerBytes({{"big.bin", patternBytes(3u << 20, 1)}});
        changed = containerBytes(
            {{"big.bin", patternBytes(3u << 20, 1)}, {"more.bin", patternBytes(100000, 2)}});
        writeSafe(safe, "pw", original);
    }

    // In the child: opens the safe and changes it, with the changes on disk.
    void openAndChange() {
        openThroughOpenSafe(safe, "pw");
        rewriteWorkingCopy(changed);
        shell.clearRecords();
    }

    // In the child: a save must fail and leave everything as it was.
    void expectFailedSaveLeaves(const std::filesystem::path& safeNow, const std::string& bytes,
                                const std::string& reason) {
        saveSafe(session);
        EXPECT_EQ(shell.events, failedSaveBecause(reason));
        EXPECT_TRUE(isSafeOpen(state));
        EXPECT_EQ(readFile(safeNow), bytes) << "the old safe must stay whole";
        EXPECT_EQ(folderListing(safeNow.parent_path()), std::vector<std::string>{"box.cx"})
            << "no partial file may stay beside the safe";
        shell.clearRecords();
    }

    // In the child: a save must now work and write the changes.
    void expectSaveWorks() {
        saveSafe(session);
        EXPECT_EQ(shell.events, savedAndConfirmed);
        EXPECT_EQ(decryptedSafe(safe, "pw"), changed);
        EXPECT_TRUE(closeRequested(session, CloseEntry::SaveAndExit));
        EXPECT_EQ(folderListing(workDir), std::vector<std::string>{});
    }

    std::filesystem::path folder;
    std::filesystem::path safe;
    std::string original;
    std::string changed;
};

TEST_F(SaveFaultTest, FullDiskKeepsTheOldSafeAndALaterSaveWorks) {
    const int code = runInChild([&] {
        openAndChange();
        const std::string before = readFile(safe);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
        const rlim_t hard = limit.rlim_max;
        limit.rlim_cur = 1u << 20; // well below the new safe's size
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        expectFailedSaveLeaves(safe, before, "File too large");

        limit.rlim_cur = hard;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        expectSaveWorks();
    });
    EXPECT_EQ(code, 0);
}

TEST_F(SaveFaultTest, ReadOnlyFolderKeepsTheOldSafeAndALaterSaveWorks) {
    // Root ignores file modes: the child runs as nobody, owning the folders.
    const bool asRoot = ::geteuid() == 0;
    constexpr uid_t nobody = 65534;
    if (asRoot) {
        std::filesystem::permissions(root, std::filesystem::perms::owner_all |
                                               std::filesystem::perms::others_exec);
        for (const auto& path : {folder, safe, workDir})
            ASSERT_EQ(::chown(path.c_str(), nobody, nobody), 0);
    }
    const int code = runInChild([&] {
        if (asRoot) {
            ASSERT_EQ(::setgroups(0, nullptr), 0);
            ASSERT_EQ(::setresgid(nobody, nobody, nobody), 0);
            ASSERT_EQ(::setresuid(nobody, nobody, nobody), 0);
        }
        ASSERT_EQ(::chdir(workDir.c_str()), 0);
        openAndChange();
        const std::string before = readFile(safe);
        ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
        // Without this the test would prove nothing.
        ASSERT_FALSE(std::ofstream(folder / "probe").is_open()) << "folder still writable";
        expectFailedSaveLeaves(safe, before, "Permission denied");

        ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
        expectSaveWorks();
    });
    EXPECT_EQ(code, 0);
}

TEST_F(SaveFaultTest, VanishedFolderKeepsTheSafeOpenAndALaterSaveWorks) {
    const int code = runInChild([&] {
        openAndChange();
        const std::string before = readFile(safe);
        const auto aside = root / "aside";
        std::filesystem::rename(folder, aside);
        expectFailedSaveLeaves(aside / "box.cx", before, "No such file or directory");

        std::filesystem::remove_all(aside);
        saveSafe(session);
        EXPECT_EQ(shell.events, failedSaveBecause("No such file or directory"));
        EXPECT_TRUE(isSafeOpen(state));
        shell.clearRecords();

        std::filesystem::create_directory(folder);
        expectSaveWorks();
    });
    EXPECT_EQ(code, 0);
}

TEST_F(SaveFaultTest, KilledAfterASaveTheSafeHoldsTheSavedChanges) {
    const int code = runInChild([&] {
        openAndChange();
        saveSafe(session);
        ::raise(SIGKILL);
    });
    EXPECT_EQ(code, 128 + SIGKILL);
    EXPECT_EQ(decryptedSafe(safe, "pw"), changed);
}

TEST_F(SaveFaultTest, KilledAnywhereDuringSavesTheSafeIsAlwaysOldOrNew) {
    // The child saves the changed working copy again and again; the parent kills
    // it at a random moment and then looks at what the safe file holds.
    putWorkingCopy(state.workingCopy, workingCopyPath(state), changed);
    state.safePath = safe.string();
    state.password = "pw";
    const std::string oldSafe = readFile(safe);

    // How long one save takes here, so that the kills spread over a few saves.
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(writeSafeFile(session, "calibrating").written());
    const auto saveMicros = std::chrono::duration_cast<std::chrono::microseconds>(
                                std::chrono::steady_clock::now() - started)
                                .count();
    state.safeLock.release(); // each child takes the lock of its own
    // The session holds its changes, not the calibrating save's file.
    putWorkingCopy(state.workingCopy, workingCopyPath(state), changed);

    constexpr int kills = 200;
    int foundOld = 0;
    int foundNew = 0;
    int strayFiles = 0;
    std::mt19937 generator(20261207);
    std::uniform_int_distribution<long> delay(0, 3 * std::max<long>(saveMicros, 1000));
    for (int round = 0; round < kills; ++round) {
        writeFile(safe, oldSafe);
        const pid_t child = startChild([&] {
            // As a program that has just opened the safe the parent put back.
            ASSERT_EQ(state.safeLock.acquire(safe), LockResult::Locked);
            for (;;) {
                writeSafeFile(session, "saving");
                shell.clearRecords();
            }
        });
        ASSERT_GT(child, 0);
        ::usleep(static_cast<useconds_t>(delay(generator)));
        ::kill(child, SIGKILL);
        ASSERT_EQ(waitForChild(child), 128 + SIGKILL);

        const auto content = decryptedSafe(safe, "pw");
        if (content == original)
            ++foundOld;
        else if (content == changed)
            ++foundNew;
        else
            ADD_FAILURE() << "round " << round << ": the safe holds neither the old nor the new"
                          << " container";
        // A kill before the rename leaves the fresh file; it is not the safe.
        for (const auto& name : folderListing(folder)) {
            if (name == "box.cx")
                continue;
            ++strayFiles;
            std::filesystem::remove(folder / name);
        }
    }
    std::cout << "[ figures  ] " << kills << " kills, " << foundOld + foundNew << " safe ("
              << foundOld << " old, " << foundNew << " new); one save took " << saveMicros
              << " us; unfinished fresh files left by a kill: " << strayFiles << '\n';
    EXPECT_EQ(foundOld + foundNew, kills);
    EXPECT_GT(foundOld, 0) << "no kill landed before a rename: the test proved little";
    EXPECT_GT(foundNew, 0) << "no kill landed after a rename: the test proved little";
}

} // namespace
} // namespace quorvane::test
