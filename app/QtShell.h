#pragma once

#include "dialogs/Dialogs.h"
#include "mount/SessionLock.h"
#include "ui/ProgressFigures.h"
#include "ui/Shell.h"

namespace quorvane {

class MainWindow;

// The desktop side of the port: message boxes and dialogs over the main
// window, the busy box, and the list and toolbar of the main window.
// Until a window is attached, list and toolbar calls do nothing and boxes
// have no owner.
class QtShell : public Conversation,
                public FilePickers,
                public BusySteps,
                public EntryList,
                public Shell {
  public:
    QtShell();
    ~QtShell() override;
    QtShell(const QtShell&) = delete;
    QtShell& operator=(const QtShell&) = delete;

    // Who answers the boxes. User: they are shown and wait for an answer.
    // KeepData: nobody may be there to answer (the program is asked to end),
    // so none is shown; each gets the answer that keeps data at once (No,
    // Cancel, OK) and its text goes to standard error. NoDisplay: the same,
    // and no widget at all is touched (the display is gone): no busy box, long
    // steps run right here, the list and toolbar are left alone.
    enum class Answering { User, KeepData, NoDisplay };
    void setAnswering(Answering answering) { answering_ = answering; }

    void attachWindow(MainWindow* window) { window_ = window; }
    // The session's lock, parked while a box or picker waits for the user:
    // the open folder answers meanwhile instead of waiting for the command.
    void parkWhileAsking(SessionLock* lock) { sessionLock_ = lock; }
    MainWindow* window() const { return window_; }
    // True while a long step runs; the window then takes no commands.
    bool isBusy() const;
    bool isBusyBoxShown() const;
    // Waits for the long step under way to end, where its caller never gets
    // back to wait for it (the process ending from inside the event loop).
    void waitForLongStep();

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
    void runShortStep(const std::function<void()>& step) override;
    ProgressCallback byteProgress() override;
    void startAddBatch(std::uint64_t count, std::uint64_t totalBytes) override;
    void startAddBatchFile(std::uint64_t number, std::uint64_t size) override;
    void endAddBatch() override;
    void showRows(std::vector<EntryRow> rows) override;
    void appendRow(EntryRow row) override;
    int focusedRow() override;
    int nextSelectedRow(int after) override;
    int selectedCount() override;
    std::vector<std::string> selectedFolders() override;
    void SetSafeButtonsEnabled(bool enabled) override;
    void destroyMainWindow() override;

    // True while the boxes answer by themselves (see Answering).
    bool answersItself() const { return answering_ != Answering::User; }

  private:
    bool hasDisplay() const { return answering_ != Answering::NoDisplay; }
    // The window, or nullptr where no widget may be touched.
    MainWindow* reachableWindow() const;
    QWidget* owner() const;
    // A box that asks or tells must never sit under the busy box, where it
    // could be neither seen nor answered.
    void clearBusyBoxForDialog();

    MainWindow* window_ = nullptr;
    dialogs::BusyBox busyBox_;
    // An add of many files: one busy box over all of them, with its figures.
    FileBatch batch_;
    Answering answering_ = Answering::User;
    SessionLock* sessionLock_ = nullptr;
};

} // namespace quorvane
