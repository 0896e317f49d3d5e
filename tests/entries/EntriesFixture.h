#pragma once

#include "entries/Entries.h"
#include "lifecycle/SafeState.h"
#include "lifecycle/Session.h"
#include "tests/support/SafeBytes.h"
#include "tests/support/ScriptedShell.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace quorvane::test {

// The scripted port with seams for the moments between the steps of a
// command: just before and just after each long step, and at each question.
class HookedShell : public ScriptedShell {
  public:
    std::function<void(int step)> beforeStep;
    std::function<void(int step)> afterStep;
    std::function<void(const std::string& question)> onQuestion;
    // When set, the list claims this many selected rows whatever it hands out.
    int claimedSelectedCount = -1;
    // Every (done, total) that a long step reported through byteProgress.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> byteReports;
    // Called at each of those reports, while the step is under way.
    std::function<void()> duringStep;

    void runBusy(const std::function<void()>& step) override;
    bool askYesNo(const std::string& text, const std::string& caption) override;
    int selectedCount() override;
    ProgressCallback byteProgress() override;
};

// Every test gets a fresh temporary root with a private working directory, a
// folder for source files and one for extraction. The safe's file is
// root/safe.cx (written only by a save), its password TestPassword.
inline constexpr const char* TestPassword = "entries test password";

class EntriesTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Puts container into the working copy, opens it as a safe is opened,
    // refreshes the list and forgets what that said.
    void openContainer(const std::string& container);
    void openEmptySafe();
    // The working copy's bytes as they are on disk now.
    std::string workingCopyBytes();
    // A source file in the sources folder.
    std::filesystem::path source(const std::string& name, const std::string& content);
    // Adds path through the Add File command, answering No to erasing.
    void addKeepingOriginal(const std::filesystem::path& path);
    // Extracts the given rows into folder through the Extract command.
    void extractRows(const std::set<int>& rows, const std::filesystem::path& folder);

    std::filesystem::path root;
    std::filesystem::path workDir;
    std::filesystem::path sources;
    std::filesystem::path out;
    HookedShell shell;
    SafeState state;
    Session session{state, shell};
};

} // namespace quorvane::test
