#pragma once

#include "lifecycle/Lifecycle.h"
#include "lifecycle/SafeState.h"
#include "tests/support/SafeBytes.h"
#include "tests/support/ScriptedShell.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WorkingCopyBytes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quorvane::test {

// Every test runs in a fresh temporary root with a private working directory
// of its own, and with the current directory moved to an empty scratch folder
// so that a stray file in it is noticed.
class LifecycleTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Opens the safe through Open Safe with password; asserts that it opened.
    void openThroughOpenSafe(const std::filesystem::path& safe, const std::string& password);
    // Replaces the working copy's content through the working copy (left
    // unflushed, as an entry operation leaves it) and refreshes the list.
    void rewriteWorkingCopy(const std::string& container);

    std::filesystem::path root;
    std::filesystem::path scratchCwd;
    std::filesystem::path workDir;
    ScriptedShell shell;
    SafeState state;
    Session session{state, shell};

  private:
    std::filesystem::path originalCwd_;
};

} // namespace quorvane::test
