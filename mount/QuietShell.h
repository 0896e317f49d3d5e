#pragma once

// The port for work that nobody watches: the folder's timed saves, which run
// on the folder's own thread, where no window may be touched. It shows
// nothing and answers No; the caller reports what failed.

#include "ui/Shell.h"

namespace quorvane {

class QuietShell : public Shell {
  public:
    void showMessage(const std::string&, const std::string&, MessageIcon) override {}
    bool askYesNo(const std::string&, const std::string&) override { return false; }
    std::optional<std::string> askPassword() override { return std::nullopt; }
    std::optional<std::string> askPasswordConfirmation() override { return std::nullopt; }
    std::optional<std::string> askNewEntryName() override { return std::nullopt; }
    bool pickSafeToOpen(std::string&) override { return false; }
    bool pickNewSafe(std::string&) override { return false; }
    bool pickFileToAdd(std::string&) override { return false; }
    bool ChooseFolder(std::string&, const std::string&) override { return false; }
    void ShowProgress(const std::string&) override {}
    void HideProgress() override {}
    void runBusy(const std::function<void()>& step) override { step(); }
    void deleteAllRows() override {}
    void insertRow(int, const std::string&) override {}
    void setRowText(int, int, const std::string&) override {}
    int focusedRow() override { return -1; }
    int nextSelectedRow(int) override { return -1; }
    int selectedCount() override { return 0; }
    void SetSafeButtonsEnabled(bool) override {}
    void destroyMainWindow() override {}
};

} // namespace quorvane
