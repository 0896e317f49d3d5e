#pragma once

// Plays the user in the modal dialogs and pop-up menus that the code under
// test opens, from a script of expected steps in order. A short timer looks
// for QApplication::activePopupWidget() and activeModalWidget(); each new one
// takes the next step. A dialog that no step expects fails the test and is
// closed, and a step left over at the end fails it too, so a test never hangs
// on a dialog and never passes without the dialogs it expects.

#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <deque>
#include <functional>
#include <string>
#include <vector>

class QMenu;

namespace quorvane::test {

class DialogScript {
  public:
    using Step = std::function<void(QWidget* widget)>;

    DialogScript();
    ~DialogScript();
    DialogScript(const DialogScript&) = delete;
    DialogScript& operator=(const DialogScript&) = delete;

    void expect(const std::string& description, Step step);

    // A message box with this icon, caption and text; pressed OK.
    void expectMessage(QMessageBox::Icon icon, const QString& caption, const QString& text);
    // A Yes/No question with this caption and text; answered as given.
    void expectQuestion(const QString& caption, const QString& text, bool yes);
    // The password dialog under this title; the text typed, then OK.
    void expectPassword(const QString& password,
                        const QString& title = QStringLiteral("Enter Password"));
    // The About box; closed with its OK button.
    void expectAbout();
    // A pop-up menu, handed to the given check and choice.
    void expectMenu(const std::function<void(QMenu* menu)>& step);

    // Runs the event loop until every step has been taken or the time is up.
    bool waitUntilDone(int milliseconds = 10000);
    std::size_t pending() const { return steps_.size(); }
    // What each dialog showed, "<caption>|<text>", in the order seen.
    const std::vector<std::string>& seen() const { return seen_; }

    // Chooses the menu's action with this text, as a user would, with the
    // keyboard; fails when there is none.
    static void choose(QMenu* menu, const QString& text);

  private:
    struct Entry {
        std::string description;
        Step step;
    };
    void poll();
    bool alreadyTaken(QWidget* widget) const;

    QTimer poller_;
    std::deque<Entry> steps_;
    std::vector<QPointer<QWidget>> taken_;
    std::vector<std::string> seen_;
};

} // namespace quorvane::test
