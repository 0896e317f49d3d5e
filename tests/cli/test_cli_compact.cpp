// compact: a sealed safe written anew without the space it no longer uses, a
// first-version one written in the second version, a plain one left alone;
// and every failure leaves the safe file byte for byte as it was.

#include "tests/cli/CliFixture.h"
#include "tests/storage/VaultKit.h"
#include "tests/support/SealedBytes.h"

#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <unistd.h>

namespace quorvane::clitest {
namespace {

namespace fs = std::filesystem;

using test::patternBytes;

const std::string QuickKdf = "kdf: argon2id passes=1 memory=8192KiB\n";

class CliCompact : public CliTest {
  protected:
    // What a user can see of a safe: its list and every entry's bytes.
    std::string everythingIn(const fs::path& safe) const {
        std::string seen = listOf(safe);
        for (int number = 0; number < 16; ++number) {
            RunResult entry = cli({"cat", safe.string(), std::to_string(number)});
            if (entry.exitCode != 0)
                break;
            seen += "\n#" + std::to_string(number) + ":" + entry.out;
        }
        return seen;
    }

    // A second-version safe of eight files, one of them deleted: waste, but
    // less than the quarter at which a save compacts by itself.
    fs::path vaultWithAHole() const {
        const fs::path safe = file("vault.cx");
        test::vaultkit::createVault(safe, Password);
        std::vector<std::string> args = {"add", safe.string()};
        for (int n = 0; n < 8; ++n)
            args.push_back(
                box.writeFile("f" + std::to_string(n), patternBytes(100000, n)).string());
        EXPECT_EQ(cli(args).exitCode, 0);
        const auto sizeBefore = fs::file_size(safe);
        EXPECT_EQ(cli({"delete", safe.string(), "3"}).exitCode, 0);
        EXPECT_GE(fs::file_size(safe), sizeBefore) << "the delete compacted by itself";
        return safe;
    }

    std::vector<std::string> filesBesideSafe() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(box.files()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(CliCompact, WritesAnewWhatHasUnusedSpaceAndKeepsEveryEntry) {
    const struct {
        const char* what;
        std::function<fs::path()> make;
        bool shrinks;
        bool unchangedBytes;
        const char* says;
        std::string infoAfter;
    } cases[] = {
        {"second version after a delete", [&] { return vaultWithAHole(); }, true, false,
         "the safe is compacted: ", "format: sealed, version 2\n" + QuickKdf},
        {"first version",
         [&] {
             const fs::path safe = file("v1.cx");
             EXPECT_TRUE(test::referenceSeal(
                 safe, Password,
                 containerBytes({{"a.txt", "alpha"}, {"b.bin", patternBytes(300000, 2)}}), 1,
                 8192));
             return safe;
         },
         false, false, "second sealed version", "format: sealed, version 2\n" + QuickKdf},
        {"plain",
         [&] {
             return sealSafe({{"n.txt", "notes"}, {"m.txt", "more"}});
         },
         false, true, "nothing was written", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path safe = c.make();
        const std::string before = readFile(safe), seenBefore = everythingIn(safe);
        const std::vector<std::string> beside = filesBesideSafe();
        RunResult compacted = cli({"compact", safe.string()});
        ASSERT_EQ(compacted.exitCode, 0) << compacted.err;
        EXPECT_TRUE(contains(compacted.err, c.says)) << compacted.err;
        EXPECT_EQ(everythingIn(safe), seenBefore);
        EXPECT_EQ(filesBesideSafe(), beside) << "nothing is left beside the safe";
        if (c.shrinks) {
            EXPECT_LT(fs::file_size(safe), before.size());
        }
        EXPECT_EQ(readFile(safe) == before, c.unchangedBytes);
        if (!c.infoAfter.empty()) {
            EXPECT_EQ(box.run({"info", safe.string()}).out, c.infoAfter);
        }
    }
}

TEST_F(CliCompact, AFailureLeavesTheSafeFileAsItWas) {
    const fs::path safe = vaultWithAHole();
    const std::string good = readFile(safe);
    // Past the header and the first index: the content of the second file.
    std::string damaged = good;
    damaged[200000] = static_cast<char>(damaged[200000] ^ 0x20);
    const struct {
        const char* what;
        std::string bytes;
        std::vector<std::string> args;
        std::optional<rlim_t> fileSizeLimit;
        bool holdLock;
        int exitCode;
        const char* says;
    } cases[] = {
        {"wrong password",
         good,
         {"compact", safe.string(), "--password-file", box.passwordFile("not it").string()},
         {},
         false,
         3,
         "Invalid File or Password"},
        {"a damaged chunk",
         damaged,
         {"compact", safe.string(), "--password-file", passwordFile},
         {},
         false,
         1,
         "is damaged in the safe"},
        {"the disk takes too little",
         good,
         {"compact", safe.string(), "--password-file", passwordFile},
         good.size() / 2,
         false,
         1,
         "Failed to Save file!"},
        {"open in another program",
         good,
         {"compact", safe.string(), "--password-file", passwordFile},
         {},
         true,
         1,
         "open in another program"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(safe, c.bytes);
        const std::vector<std::string> beside = filesBesideSafe();
        const int held = ::open(safe.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(held, 0);
        if (c.holdLock) {
            ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
        }
        RunOptions options;
        options.fileSizeLimit = c.fileSizeLimit;
        RunResult refused = box.run(c.args, options);
        ::close(held);
        EXPECT_EQ(refused.exitCode, c.exitCode) << refused.err;
        EXPECT_TRUE(contains(refused.err, c.says)) << refused.err;
        EXPECT_FALSE(contains(refused.err, "the safe is compacted")) << refused.err;
        EXPECT_EQ(readFile(safe), c.bytes);
        EXPECT_EQ(filesBesideSafe(), beside) << "nothing is left beside the safe";
    }
}

} // namespace
} // namespace quorvane::clitest
