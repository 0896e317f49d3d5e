#include "tests/lifecycle/LifecycleFixture.h"

#include "lifecycle/EntryListing.h"
#include "storage/format/SafeCipher.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane::test {

void LifecycleTest::SetUp() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "lifecycle-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root = pattern;
    scratchCwd = root / "cwd";
    workDir = root / "work";
    std::filesystem::create_directory(scratchCwd);
    std::filesystem::create_directory(workDir);
    std::filesystem::permissions(workDir, std::filesystem::perms::owner_all);
    state.workDir = workDir;
    originalCwd_ = std::filesystem::current_path();
    std::filesystem::current_path(scratchCwd);
}

void LifecycleTest::TearDown() {
    if (state.workingCopy)
        state.workingCopy.reset();
    std::filesystem::current_path(originalCwd_);
    EXPECT_EQ(folderListing(scratchCwd), std::vector<std::string>{})
        << "files left in the current directory";
    removeTree(root);
}

void LifecycleTest::openThroughOpenSafe(const std::filesystem::path& safe,
                                        const std::string& password) {
    shell.openPickerAnswers.push_back(safe.string());
    shell.passwordAnswers.push_back(password);
    openSafe(session);
    ASSERT_TRUE(isSafeOpen(state)) << "the safe " << safe << " did not open";
}

void LifecycleTest::rewriteWorkingCopy(const std::string& container) {
    ASSERT_TRUE(isSafeOpen(state));
    ASSERT_TRUE(state.workingCopy->writeAt(0, container.data(), container.size()));
    refreshEntryList(state, shell);
}

} // namespace quorvane::test
