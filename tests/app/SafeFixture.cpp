#include "tests/app/SafeFixture.h"

#include "entries/Entries.h"
#include "lifecycle/Lifecycle.h"
#include "storage/files/WorkingDirectory.h"

#include <gtest/gtest.h>

namespace quorvane::test {

void makeSafe(const std::filesystem::path& safe, const std::string& password,
              const std::vector<NamedContent>& files) {
    WorkingDirectory workDir;
    SafeState state;
    state.workDir = workDir.path();
    ScriptedShell shell;
    Session session{state, shell};

    shell.newSafePickerAnswers.push_back(safe.string());
    shell.passwordAnswers.push_back(password);
    createSafe(session);
    ASSERT_TRUE(isSafeOpen(state)) << "the new safe did not open";

    if (!files.empty()) {
        const TempFolder sources;
        std::vector<std::string> paths;
        for (const auto& [name, content] : files)
            paths.push_back(sources.write(name, content).string());
        shell.yesNoAnswers.push_back(false); // keep the originals
        addDroppedFiles(session, paths);
        ASSERT_EQ(shell.rows.size(), files.size());
    }
    ASSERT_EQ(closeSafe(session, CloseEntry::Destroy), CloseResult::Closed);
}

std::vector<ListRow> listSafe(const std::filesystem::path& safe, const std::string& password,
                              std::vector<std::string>* messages) {
    WorkingDirectory workDir;
    SafeState state;
    state.workDir = workDir.path();
    ScriptedShell shell;
    Session session{state, shell};
    shell.passwordAnswers.push_back(password);
    openStartupSafe(session, safe.string());
    if (messages != nullptr)
        *messages = shell.messageTexts();
    return shell.rows;
}

} // namespace quorvane::test
