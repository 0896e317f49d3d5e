#include "tests/entries/EntriesFixture.h"

#include "tests/support/WorkingCopyBytes.h"

#include "lifecycle/EntryListing.h"
#include "storage/format/SafeCipher.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace quorvane::test {

void HookedShell::runBusy(const std::function<void()>& step) {
    const int number = busySteps;
    if (beforeStep)
        beforeStep(number);
    ScriptedShell::runBusy(step);
    if (afterStep)
        afterStep(number);
}

bool HookedShell::askYesNo(const std::string& text, const std::string& caption) {
    if (onQuestion)
        onQuestion(text);
    return ScriptedShell::askYesNo(text, caption);
}

int HookedShell::selectedCount() {
    return claimedSelectedCount >= 0 ? claimedSelectedCount : ScriptedShell::selectedCount();
}

ProgressCallback HookedShell::byteProgress() {
    return [this](std::uint64_t done, std::uint64_t total) {
        byteReports.emplace_back(done, total);
        if (duringStep)
            duringStep();
    };
}

void EntriesTest::SetUp() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quorvane-entries-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root = pattern;
    workDir = root / "work";
    sources = root / "sources";
    out = root / "out";
    for (const auto& folder : {workDir, sources, out})
        std::filesystem::create_directory(folder);
    state.workDir = workDir;
    state.safePath = (root / "safe.cx").string();
    state.password = TestPassword;
    // What the user is told after an erase must not depend on the disk under
    // the temporary folder; the tests of that message set their own verdict.
    session.assessErase = [](int) { return EraseReach{true, EraseObstacle::None, "test disk"}; };
}

void EntriesTest::TearDown() {
    if (state.workingCopy)
        state.workingCopy.reset();
    removeTree(root);
}

void EntriesTest::openContainer(const std::string& container) {
    putWorkingCopy(state.workingCopy, workingCopyPath(state), container);
    refreshEntryList(state, shell);
    shell.clearRecords();
}

void EntriesTest::openEmptySafe() {
    openContainer(emptyContainerBytes());
}

std::string EntriesTest::workingCopyBytes() {
    return workingCopyContent(*state.workingCopy);
}

std::filesystem::path EntriesTest::source(const std::string& name, const std::string& content) {
    auto path = sources / name;
    writeFile(path, content);
    return path;
}

void EntriesTest::addKeepingOriginal(const std::filesystem::path& path) {
    shell.addFilePickerAnswers.push_back(path.string());
    shell.yesNoAnswers.push_back(false);
    addFile(session);
}

void EntriesTest::extractRows(const std::set<int>& rows, const std::filesystem::path& folder) {
    shell.selected = rows;
    shell.folderAnswers.push_back(folder.string());
    extractFiles(session);
}

} // namespace quorvane::test
