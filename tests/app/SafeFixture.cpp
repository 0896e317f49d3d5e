#include "tests/app/SafeFixture.h"

#include "entries/Entries.h"
#include "lifecycle/Lifecycle.h"
#include "lifecycle/WorkingDirectory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <stdlib.h>

namespace quorvane::test {

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quorvane-app-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempFolder::write(const std::string& name, const std::string& content) const {
    const std::filesystem::path file = path_ / name;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
    return file;
}

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

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string content(static_cast<std::size_t>(std::filesystem::file_size(path)), '\0');
    in.read(content.data(), static_cast<std::streamsize>(content.size()));
    return content;
}

} // namespace quorvane::test
