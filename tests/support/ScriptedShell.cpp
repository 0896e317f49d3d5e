#include "tests/support/ScriptedShell.h"

#include <gtest/gtest.h>

namespace quorvane::test {

namespace {

template <typename T>
std::optional<T> takeAnswer(std::deque<std::optional<T>>& queue, const char* what) {
    if (queue.empty()) {
        ADD_FAILURE() << "unexpected " << what << ": no answer queued";
        return std::nullopt;
    }
    auto answer = queue.front();
    queue.pop_front();
    return answer;
}

bool pick(std::deque<std::optional<std::string>>& queue, const char* what, std::string& path) {
    auto answer = takeAnswer(queue, what);
    if (!answer)
        return false;
    path = *answer;
    return true;
}

} // namespace

void ScriptedShell::showMessage(const std::string& text, const std::string& caption,
                                MessageIcon icon) {
    EXPECT_FALSE(progressVisible) << "message box \"" << text << "\" under a busy box";
    messages.push_back({text, caption, icon});
    events.push_back("message:" + caption + ":" + text);
}

ExistingFileAnswer ScriptedShell::askExistingFile(const std::string& path) {
    EXPECT_FALSE(progressVisible) << "question about \"" << path << "\" under a busy box";
    events.push_back("existing:" + path);
    if (existingFileAnswers.empty()) {
        ADD_FAILURE() << "unexpected question about \"" << path << "\": no answer queued";
        return {};
    }
    ExistingFileAnswer answer = existingFileAnswers.front();
    existingFileAnswers.pop_front();
    return answer;
}

bool ScriptedShell::askYesNo(const std::string& text, const std::string& caption) {
    EXPECT_FALSE(progressVisible) << "question \"" << text << "\" under a busy box";
    questions.push_back(text);
    events.push_back("question:" + caption + ":" + text);
    if (yesNoAnswers.empty()) {
        ADD_FAILURE() << "unexpected question \"" << text << "\": no answer queued";
        return false;
    }
    bool answer = yesNoAnswers.front();
    yesNoAnswers.pop_front();
    return answer;
}

std::optional<std::string> ScriptedShell::askPassword() {
    events.push_back("password");
    auto answer = takeAnswer(passwordAnswers, "password dialog");
    lastPassword = answer ? std::optional(answer->substr(0, 249)) : std::nullopt;
    return lastPassword;
}

std::optional<std::string> ScriptedShell::askPasswordConfirmation() {
    events.push_back("confirm-password");
    std::optional<std::string> answer = lastPassword;
    if (!confirmAnswers.empty()) {
        answer = confirmAnswers.front();
        confirmAnswers.pop_front();
    }
    return answer ? std::optional(answer->substr(0, 249)) : std::nullopt;
}

std::optional<std::string> ScriptedShell::askNewEntryName() {
    events.push_back("rename");
    auto answer = takeAnswer(renameAnswers, "rename dialog");
    return answer ? std::optional(answer->substr(0, 49)) : std::nullopt;
}

bool ScriptedShell::pickSafeToOpen(std::string& path) {
    events.push_back("pick-open:" + path);
    return pick(openPickerAnswers, "open picker", path);
}

bool ScriptedShell::pickNewSafe(std::string& path) {
    events.push_back("pick-new");
    return pick(newSafePickerAnswers, "new-safe picker", path);
}

bool ScriptedShell::pickFileToAdd(std::string& path) {
    events.push_back("pick-add");
    return pick(addFilePickerAnswers, "add-file picker", path);
}

bool ScriptedShell::ChooseFolder(std::string& path, const std::string& title) {
    events.push_back("folder:" + title);
    return pick(folderAnswers, "folder picker", path);
}

void ScriptedShell::ShowProgress(const std::string& text) {
    progressVisible = true;
    progressTexts.push_back(text);
    events.push_back("progress:" + text);
}

void ScriptedShell::HideProgress() {
    if (progressVisible)
        events.push_back("hide");
    progressVisible = false;
}

void ScriptedShell::runBusy(const std::function<void()>& step) {
    ++busySteps;
    step();
}

int ScriptedShell::nextSelectedRow(int after) {
    auto next = selected.upper_bound(after);
    return next == selected.end() ? -1 : *next;
}

void ScriptedShell::SetSafeButtonsEnabled(bool enabled) {
    buttonsEnabled = enabled;
    events.push_back(enabled ? "buttons:on" : "buttons:off");
}

void ScriptedShell::destroyMainWindow() {
    windowDestroyed = true;
    events.push_back("destroy");
}

std::vector<std::string> ScriptedShell::messageTexts() const {
    std::vector<std::string> texts;
    for (const auto& message : messages)
        texts.push_back(message.text);
    return texts;
}

void ScriptedShell::clearRecords() {
    events.clear();
    messages.clear();
    questions.clear();
    progressTexts.clear();
}

} // namespace quorvane::test
