// The commit protocol under every fault strace can inject: each write, sync
// and read of a commit fails once (EIO), or the process is killed there. The
// vault always opens afterwards to the state before the commit or the one
// after it, whole, and a later commit works.

#include "tests/storage/VaultKit.h"
#include "tests/support/TestFiles.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using namespace test::vaultkit;

const std::string Probe = QUORVANE_BINARY_DIR "/tests/storage/vault_commit_probe";

class VaultCommitFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        createVault(safe);
        auto vault = openVault(safe);
        ASSERT_EQ(addContent(*vault, "old.bin", oldContent()), StepResult::Done);
        ASSERT_EQ(vault->commit(), StepResult::Done);
        vault.reset();
        pristine = test::readFile(safe);
    }

    // The probe's exit status with the fault at the call'th call of `call`.
    int probeWithFault(const std::string& call, const std::string& fault, int when,
                       const std::string& then = {}) {
        // The leak checker cannot run under a tracer (a sanitizer build
        // would end the probe with it); the other checks can.
        const char* asan = std::getenv("ASAN_OPTIONS");
        std::vector<std::string> argv{
            "env",
            "ASAN_OPTIONS=" + std::string(asan ? asan : "") + ":detect_leaks=0",
            "strace",
            "-f",
            "-qq",
            "-o",
            "/dev/null",
            "-e",
            "trace=" + call,
            "-e",
            "inject=" + call + ":" + fault + ":when=" + std::to_string(when),
            Probe,
            safe.string()};
        if (!then.empty())
            argv.push_back(then);
        return test::runProgram(argv);
    }

    test::TempFolder folder;
    fs::path safe = folder / "box.cx";
    std::string pristine;
};

TEST_F(VaultCommitFaults, EveryFailedOrKilledStepLeavesOneWholeState) {
    const Contents before = {{"old.bin", oldContent()}};
    const Contents after = {{"d/", ""}, {"new.bin", newContent()}};
    const struct {
        const char* call;
        const char* fault;
    } faults[] = {{"pwrite64", "error=EIO"},
                  {"fsync", "error=EIO"},
                  {"pread64", "error=EIO"},
                  {"pwrite64", "signal=SIGKILL"},
                  {"fsync", "signal=SIGKILL"}};
    for (const auto& fault : faults) {
        int runs = 0;
        for (int when = 1; when < 60; ++when) {
            SCOPED_TRACE(std::string(fault.call) + " " + fault.fault + " at call " +
                         std::to_string(when));
            test::writeFile(safe, pristine);
            const int status = probeWithFault(fault.call, fault.fault, when);
            auto vault = openVault(safe, false);
            const Contents state = contentsOf(*vault);
            if (status == 0) {
                EXPECT_EQ(state, after);
                break; // the fault came after the last such call
            }
            ++runs;
            EXPECT_TRUE(state == before || state == after) << "a mixture of two states";
            vault.reset();
            // The next writer reclaims what was left and commits.
            auto writer = openVault(safe);
            EXPECT_EQ(fs::file_size(safe), writer->lengthInUse());
            ASSERT_EQ(addContent(*writer, "later", "later"), StepResult::Done);
            ASSERT_EQ(writer->commit(), StepResult::Done);
            writer.reset();
            Contents expected = state;
            expected["later"] = "later";
            EXPECT_EQ(contentsOf(*openVault(safe, false)), expected);
        }
        EXPECT_GT(runs, 1) << fault.call << " " << fault.fault << " was never injected";
    }
}

TEST_F(VaultCommitFaults, AfterASlotThatMayHaveLandedNothingMoreIsWrittenOrCut) {
    // The second fsync of the commit is the slot's: its write is in the file,
    // and the session cannot know whether it is on the disk.
    EXPECT_EQ(probeWithFault("fsync", "error=EIO", 2, "then-discard"), 3);
    EXPECT_EQ(contentsOf(*openVault(safe, false)),
              (Contents{{"d/", ""}, {"new.bin", newContent()}}))
        << "the commit that landed is whole: the discard did not cut it off";
}

} // namespace
} // namespace quorvane
