#pragma once

// The program's modal dialogs and pickers, each shown over the main window.

#include <chrono>
#include <functional>
#include <optional>
#include <string>

class QWidget;

namespace quorvane::dialogs {

// "Enter Password": the typed text (at most 249 bytes) at OK; nothing for
// Cancel, Esc or the close box.
std::optional<std::string> runPasswordDialog(QWidget* owner);
// The same dialog titled "Confirm Password", for typing a new password again.
std::optional<std::string> runConfirmPasswordDialog(QWidget* owner);

// "Dialog" / "Enter New Filename:": the typed name (at most 49 bytes, cut on
// a whole UTF-8 character), or nothing on Cancel.
std::optional<std::string> runRenameDialog(QWidget* owner);

// The About box: program icon, name, version, OK.
void runAboutDialog(QWidget* owner);

// How wide a window must be for a window manager to show its whole caption
// in the title bar (with room for the title bar's buttons); small boxes are
// made at least this wide, or "Success!" shows as "S... s!".
int captionWidth(const QWidget& window);

// The three file pickers: true and the chosen path (the file system's bytes),
// false when cancelled, leaving path as it was. New Safe and Add File append
// ".cx" to a name typed without a suffix; Add File not when a file of the
// very name chosen exists.
bool pickSafeToOpen(QWidget* owner, std::string& path); // starts on path
bool pickNewSafe(QWidget* owner, std::string& path);
bool pickFileToAdd(QWidget* owner, std::string& path);
// The folder picker with the given title; true and the folder's path.
bool ChooseFolder(QWidget* owner, std::string& path, const std::string& title);

// The "Please Wait" busy box and the running of long steps on a worker
// thread while the GUI thread keeps painting and animating.
class BusyBox {
  public:
    BusyBox();
    ~BusyBox();
    BusyBox(const BusyBox&) = delete;
    BusyBox& operator=(const BusyBox&) = delete;

    void show(const std::string& text); // returns at once
    void hide();                        // no box of an earlier show remains
    // The box's text, where one is shown (a run of files keeps its box).
    void setText(const std::string& text);
    // Where the box's second line comes from while it is shown: asked a few
    // times a second, on this thread; none for an empty function.
    void setDetailSource(std::function<std::string()> detail);
    // Between short steps run right here, without a worker: lets the box and
    // the windows repaint once the last chance is a moment ago. Input waits;
    // meanwhile the program counts as busy.
    void paintIfDue();
    // How long paintIfDue lets pass between paints (50 ms). A check that
    // must see several paints within a short run of steps shortens it.
    static void setPaintInterval(std::chrono::milliseconds interval);
    // Runs step on a worker thread; returns when it has ended, rethrowing
    // its exception. Meanwhile the event loop runs (timers, painting).
    void run(const std::function<void()>& step);
    bool isBusy() const;  // true while run() is under way
    bool isShown() const; // a box is on screen
    // Waits until the step that run() started has ended, from a caller that
    // cannot wait for run() to return (the process ending under it).
    void waitForStep();

  private:
    struct Impl;
    Impl* impl_;
};

} // namespace quorvane::dialogs
