#pragma once

// Answers the next modal dialog that the code under test opens. A short
// timer looks for QApplication::activeModalWidget(); the handler then plays
// the user. A dialog that never appears, or one the handler leaves open,
// fails the test instead of hanging it.

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace quorvane::test {

class ModalAnswer {
  public:
    using Handler = std::function<void(QWidget* dialog)>;

    explicit ModalAnswer(Handler handler, int timeoutMs = 10000);
    ~ModalAnswer();
    ModalAnswer(const ModalAnswer&) = delete;
    ModalAnswer& operator=(const ModalAnswer&) = delete;

    // True once the handler has been given a dialog.
    bool answered() const { return answered_; }

  private:
    void poll();
    void giveUp();

    Handler handler_;
    QWidget* alreadyModal_;
    QTimer poller_;
    QTimer deadline_;
    QPointer<QWidget> dialog_;
    bool answered_ = false;
};

} // namespace quorvane::test
