#pragma once

// A Shell for tests: answers dialogs from queues and records everything the
// operations say, in order. A dialog asked for with no answer queued fails
// the test (and answers as a cancel), so an unexpected question never hangs.

#include "ui/Shell.h"

#include <deque>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace quorvane::test {

struct ShownMessage {
    std::string text;
    std::string caption;
    MessageIcon icon;
    bool operator==(const ShownMessage&) const = default;
};

using ListRow = EntryRow;

class ScriptedShell : public Conversation,
                      public FilePickers,
                      public BusySteps,
                      public EntryList,
                      public Shell {
  public:
    ScriptedShell() : Shell(*this, *this, *this, *this) {}

    // --- answers, consumed in order ---
    std::deque<bool> yesNoAnswers;
    // A password answer: the text typed, or std::nullopt for Cancel.
    std::deque<std::optional<std::string>> passwordAnswers;
    // The confirmation of a new password. With none queued it repeats what the
    // password dialog took last, as a user who types the same twice.
    std::deque<std::optional<std::string>> confirmAnswers;
    std::deque<std::optional<std::string>> renameAnswers; // nullopt: Cancel
    std::deque<std::optional<std::string>> openPickerAnswers;
    std::deque<std::optional<std::string>> newSafePickerAnswers;
    std::deque<std::optional<std::string>> addFilePickerAnswers;
    std::deque<std::optional<std::string>> folderAnswers;
    // What to do with a different file an extraction meets.
    std::deque<ExistingFileAnswer> existingFileAnswers;

    // --- what happened ---
    // Every user-visible event in order: "message:<caption>:<text>",
    // "question:<caption>:<text>", "existing:<path>", "password", "confirm-password", "rename",
    // "pick-open:<initial>", "pick-new", "pick-add", "folder:<title>", "progress:<text>", "hide",
    // "buttons:on"/"buttons:off", "destroy".
    std::vector<std::string> events;
    std::vector<ShownMessage> messages;
    std::vector<std::string> questions;
    std::vector<std::string> progressTexts;
    std::vector<ListRow> rows;
    bool progressVisible = false;
    bool buttonsEnabled = false;
    bool windowDestroyed = false;
    std::optional<std::string> lastPassword; // the last text the password dialog took
    int busySteps = 0;

    // --- the list's focus and selection, set by the test ---
    int focused = -1;
    std::set<int> selected;
    std::vector<std::string> selectedFolderPaths;

    void showMessage(const std::string& text, const std::string& caption,
                     MessageIcon icon) override;
    bool askYesNo(const std::string& text, const std::string& caption) override;
    ExistingFileAnswer askExistingFile(const std::string& path) override;
    std::optional<std::string> askPassword() override;
    std::optional<std::string> askPasswordConfirmation() override;
    std::optional<std::string> askNewEntryName() override;
    bool pickSafeToOpen(std::string& path) override;
    bool pickNewSafe(std::string& path) override;
    bool pickFileToAdd(std::string& path) override;
    bool ChooseFolder(std::string& path, const std::string& title) override;
    void ShowProgress(const std::string& text) override;
    void HideProgress() override;
    void runBusy(const std::function<void()>& step) override;
    void showRows(std::vector<EntryRow> shown) override { rows = std::move(shown); }
    void appendRow(EntryRow row) override { rows.push_back(std::move(row)); }
    int focusedRow() override { return focused; }
    int nextSelectedRow(int after) override;
    int selectedCount() override { return static_cast<int>(selected.size()); }
    std::vector<std::string> selectedFolders() override { return selectedFolderPaths; }
    void SetSafeButtonsEnabled(bool enabled) override;
    void destroyMainWindow() override;

    // Convenience for assertions.
    std::vector<std::string> messageTexts() const;
    void clearRecords();
};

} // namespace quorvane::test
