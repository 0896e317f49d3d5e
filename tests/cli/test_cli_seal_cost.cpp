// What sealing and upgrading cost, counted under strace: each new vault's key
// is derived once (one Argon2id run: one mapping of its memory), and the
// vault is written once, straight into the file that replaces the safe.

#include "tests/cli/CliFixture.h"
#include "tests/support/SealedBytes.h"

#include <cstdio>
#include <functional>
#include <regex>
#include <sstream>

namespace quorvane::clitest {
namespace {

namespace fs = std::filesystem;

using test::patternBytes;

struct TracedCost {
    unsigned argon2Runs = 0;        // mappings of exactly the key's memory
    std::uint64_t bytesWritten = 0; // by write and pwrite64, all files together
};

// What the run traced in trace cost, for a key of memoryKiB.
TracedCost costIn(const std::string& trace, std::uint64_t memoryKiB) {
    TracedCost cost;
    const std::string mapping = "mmap(NULL, " + std::to_string(memoryKiB * 1024) + ",";
    const std::regex written(R"((^|\s)(write|pwrite64)\(.*\) = (\d+)$)");
    std::istringstream lines(trace);
    std::smatch match;
    for (std::string line; std::getline(lines, line);) {
        // Argon2id maps its memory whole and populated; thread stacks and
        // allocators map other sizes, or without MAP_POPULATE.
        if (line.find(mapping) != std::string::npos &&
            line.find("MAP_POPULATE") != std::string::npos)
            ++cost.argon2Runs;
        else if (std::regex_search(line, match, written))
            cost.bytesWritten += std::stoull(match[3]);
    }
    return cost;
}

using CliSealCost = CliTest;

TEST_F(CliSealCost, ANewVaultTakesOneKeyDerivationAndOneWrite) {
    const std::string big = patternBytes(3u << 20, 5);
    const struct {
        const char* what;
        std::function<fs::path()> make;
        const char* command;
        std::uint64_t memoryKiB;
        unsigned argon2Runs;    // the first version's open derives its own key as well
        unsigned copiesWritten; // the first version's open decrypts into the working copy
    } cases[] = {
        {"seal of a plain safe",
         [&] {
             return sealSafe({{"big", big}, {"small", "s"}});
         },
         "seal", 65536, 1, 1},
        {"upgrade of the first version",
         [&] {
             const fs::path safe = file("v1.cx");
             EXPECT_TRUE(test::referenceSeal(
                 safe, Password, containerBytes({{"big", big}, {"small", "s"}}), 1, 8192));
             return safe;
         },
         "compact", 8192, 2, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path safe = c.make(), trace = file("cost.trace");
        RunOptions tracing;
        tracing.wrapper = {"/usr/bin/strace",          "-f", "-qq", "-o", trace.string(), "-e",
                           "trace=mmap,write,pwrite64"};
        RunResult run = cli({c.command, safe.string()}, tracing);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const TracedCost cost = costIn(readFile(trace), c.memoryKiB);
        fs::remove(trace);
        EXPECT_EQ(cost.argon2Runs, c.argon2Runs);
        const std::uint64_t size = fs::file_size(safe);
        EXPECT_GE(cost.bytesWritten, size);
        EXPECT_LT(cost.bytesWritten, c.copiesWritten * size + (256u << 10));
        EXPECT_EQ(listOf(safe), "0\t3145728\tbig\n1\t1\tsmall\n");
    }
}

} // namespace
} // namespace quorvane::clitest
