#pragma once

#include "tests/cli/CliHarness.h"
#include "tests/cli/SafeBytes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace quorvane::clitest {

// Every test gets a fresh sandbox and checks, when it ends, that no run of the
// tool left anything in its TMPDIR or its working folder.
class CliTest : public ::testing::Test {
  protected:
    static constexpr const char* Password = "correct horse battery";
    static constexpr const char* FixedIv = "000102030405060708090A0B0C0D0E0F";

    void SetUp() override { passwordFile = box.passwordFile(Password).string(); }
    void TearDown() override {
        EXPECT_EQ(box.leftovers(), std::vector<std::string>{}) << "left in TMPDIR or cwd";
    }

    std::filesystem::path file(const std::string& name) const { return box.files() / name; }

    // A safe made without the program: the container byte by byte, openssl's cipher.
    std::filesystem::path sealSafe(const std::vector<StoredFile>& stored,
                                   const std::string& name = "safe.cx",
                                   std::uint32_t version = 2) const {
        auto path = file(name);
        opensslSeal(box, containerBytes(stored, version), Password, FixedIv, path);
        return path;
    }

    // Runs the tool with the test's password file appended.
    RunResult cli(std::vector<std::string> args, const RunOptions& options = {}) const {
        args.push_back("--password-file");
        args.push_back(passwordFile);
        return box.run(args, options);
    }

    std::string listOf(const std::filesystem::path& safe) const {
        RunResult listed = cli({"list", safe.string()});
        EXPECT_EQ(listed.exitCode, 0) << listed.err;
        return listed.out;
    }

    CliSandbox box;
    std::string passwordFile;
};

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace quorvane::clitest
