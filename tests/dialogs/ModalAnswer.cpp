#include "ModalAnswer.h"

#include <QApplication>
#include <QDialog>

#include <gtest/gtest.h>

namespace quorvane::test {

ModalAnswer::ModalAnswer(Handler handler, int timeoutMs)
    : handler_(std::move(handler)), alreadyModal_(QApplication::activeModalWidget()) {
    poller_.setInterval(10);
    QObject::connect(&poller_, &QTimer::timeout, [this] { poll(); });
    poller_.start();
    deadline_.setSingleShot(true);
    deadline_.setInterval(timeoutMs);
    QObject::connect(&deadline_, &QTimer::timeout, [this] { giveUp(); });
    deadline_.start();
}

ModalAnswer::~ModalAnswer() {
    poller_.stop();
    deadline_.stop();
}

void ModalAnswer::poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (answered_ || modal == nullptr || modal == alreadyModal_)
        return;
    poller_.stop();
    answered_ = true;
    dialog_ = modal;
    handler_(modal);
}

// Whatever is still up at the deadline is closed, so that the code under
// test returns and the failure is reported rather than waited for forever.
void ModalAnswer::giveUp() {
    poller_.stop();
    if (!answered_) {
        ADD_FAILURE() << "no modal dialog appeared";
        return;
    }
    QWidget* left = dialog_.data();
    if (left == nullptr || left->isHidden())
        return;
    ADD_FAILURE() << "the answered dialog was left open";
    if (auto* dialog = qobject_cast<QDialog*>(left))
        dialog->reject();
    else
        left->close();
}

} // namespace quorvane::test
