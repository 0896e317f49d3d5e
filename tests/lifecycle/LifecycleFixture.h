#pragma once

#include "lifecycle/Lifecycle.h"
#include "lifecycle/SafeState.h"
#include "tests/support/ScriptedShell.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quorvane::test {

struct StoredFile {
    std::string name;
    std::string content;
};

// A container laid out byte by byte as the format says, independent of the
// storage code under test: header, records in order, index table at the end.
std::string containerBytes(const std::vector<StoredFile>& files,
                           std::uint32_t version = ContainerVersion);
// The 16-byte empty container.
std::string emptyContainerBytes();

void writeFile(const std::filesystem::path& path, const std::string& bytes);
std::string readFile(const std::filesystem::path& path);
// File names in folder, sorted; empty when it does not exist.
std::vector<std::string> folderListing(const std::filesystem::path& folder);

// Encrypts container into a safe file at path under password (real cipher).
void writeSafe(const std::filesystem::path& path, const std::string& password,
               const std::string& container);
// The container held in the safe file, or nothing when it does not decrypt.
std::optional<std::string> decryptedSafe(const std::filesystem::path& path,
                                         const std::string& password);

// Every test runs in a fresh temporary root with a private working directory
// of its own, and with the current directory moved to an empty scratch folder
// so that a stray file in it is noticed.
class LifecycleTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Opens the safe through Open Safe with password; asserts that it opened.
    void openThroughOpenSafe(const std::filesystem::path& safe, const std::string& password);
    // Replaces the working copy's content through workingCopyStream (left
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
