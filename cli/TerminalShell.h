#pragma once

// The port as a terminal implements it: messages go to standard error, and
// every question and dialog is answered by what the command line said.

#include "cli/ProgressLine.h"
#include "ui/Shell.h"

#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace quorvane {

// What the command line answers to the operations' questions.
struct TerminalAnswers {
    std::optional<std::string> password;     // the password dialog's text; none: Cancel
    std::optional<std::string> newEntryName; // the rename dialog's text; none: Cancel
    std::string safePath;                    // the file pickers
    std::string folder;                      // ChooseFolder
    int focusedRow = -1;
    std::set<int> selectedRows;
    std::vector<std::string> selectedFolders; // of a sealed safe, by path
    bool yes = false; // the answer to every Yes/No question (the command itself asked)
    // extract: --overwrite, --skip-existing or --keep-both; none: asked on the terminal.
    std::optional<ExistingFileChoice> existingFile;
};

class TerminalShell : public Conversation,
                      public FilePickers,
                      public BusySteps,
                      public EntryList,
                      public Shell {
  public:
    // progressOnTerminal: draw the progress line (only when errors is a terminal).
    TerminalShell(TerminalAnswers answers, std::ostream& errors, bool progressOnTerminal);

    void showMessage(const std::string& text, const std::string& caption,
                     MessageIcon icon) override;
    bool askYesNo(const std::string& text, const std::string& caption) override;
    ExistingFileAnswer askExistingFile(const std::string& path) override;
    std::optional<std::string> askPassword() override { return answers_.password; }
    // The command line has had the new password typed twice already (or read
    // it from a file): the confirmation repeats it.
    std::optional<std::string> askPasswordConfirmation() override { return answers_.password; }
    std::optional<std::string> askNewEntryName() override { return answers_.newEntryName; }
    bool pickSafeToOpen(std::string& path) override;
    bool pickNewSafe(std::string& path) override;
    bool pickFileToAdd(std::string& path) override;
    bool ChooseFolder(std::string& path, const std::string& title) override;
    void ShowProgress(const std::string& text) override;
    void HideProgress() override;
    void runBusy(const std::function<void()>& step) override;
    ProgressCallback byteProgress() override;
    // The commands print what they list from the index themselves.
    void showRows(std::vector<EntryRow>) override {}
    void appendRow(EntryRow) override {}
    int focusedRow() override { return answers_.focusedRow; }
    int nextSelectedRow(int after) override;
    int selectedCount() override { return static_cast<int>(answers_.selectedRows.size()); }
    std::vector<std::string> selectedFolders() override { return answers_.selectedFolders; }
    void SetSafeButtonsEnabled(bool enabled) override { buttonsEnabled_ = enabled; }
    void destroyMainWindow() override { windowDestroyed_ = true; }

    // The command fills in what it learns once the safe is open (all rows for an extract).
    TerminalAnswers& answers() { return answers_; }

    // An add of several files: one progress line over them all (see
    // ProgressLine), each file announced before it is stored.
    void startAddBatch(std::uint64_t count, std::uint64_t totalBytes) override;
    void startAddBatchFile(std::uint64_t number, std::uint64_t size) override;
    void endAddBatch() override;

    // Messages other than errors wait while held, until they are let go
    // (shown) or dropped: a notice such as "Your password has been changed."
    // is true only once the safe is written.
    void holdNotices() { holding_ = true; }
    // --quiet: a notice of several lines (one per file) shows only its first,
    // the line that counts them.
    void keepNoticesShort() { short_ = true; }
    void releaseNotices(bool show);

    // What happened, for the exit code.
    bool errorShown() const { return errorShown_; }
    const std::vector<std::string>& errorTexts() const { return errorTexts_; }
    bool windowDestroyed() const { return windowDestroyed_; }

  private:
    void print(const std::string& text);

    TerminalAnswers answers_;
    std::ostream& errors_;
    bool progressOnTerminal_;
    ProgressLine progress_;
    bool errorShown_ = false;
    std::vector<std::string> errorTexts_;
    bool buttonsEnabled_ = false;
    bool windowDestroyed_ = false;
    bool holding_ = false;
    bool short_ = false;
    std::vector<std::string> heldNotices_;
};

} // namespace quorvane
