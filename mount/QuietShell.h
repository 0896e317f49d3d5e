#pragma once

// The port for work that nobody watches: the folder's timed saves, which run
// on the folder's own thread, where no window may be touched. It shows
// nothing and answers No; the caller reports what failed. It has no pickers
// and no list.

#include "ui/Shell.h"

namespace quorvane {

class QuietShell : public Conversation, public BusySteps, public Shell {
  public:
    QuietShell() : Shell(static_cast<Conversation&>(*this), static_cast<BusySteps&>(*this)) {}

    void showMessage(const std::string&, const std::string&, MessageIcon) override {}
    bool askYesNo(const std::string&, const std::string&) override { return false; }
    std::optional<std::string> askPassword() override { return std::nullopt; }
    std::optional<std::string> askPasswordConfirmation() override { return std::nullopt; }
    std::optional<std::string> askNewEntryName() override { return std::nullopt; }
    void ShowProgress(const std::string&) override {}
    void HideProgress() override {}
    void runBusy(const std::function<void()>& step) override { step(); }
};

} // namespace quorvane
