#include "tests/app/DialogScript.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace quorvane::test {

namespace {

constexpr int PollMilliseconds = 10;

// The busy box is modal too, but it asks nothing: the steps never see it.
bool isBusyBox(const QWidget* widget) {
    return widget->objectName() == QLatin1String("busyDialog");
}

std::string describe(QWidget* widget) {
    QString text;
    if (auto* box = qobject_cast<QMessageBox*>(widget))
        text = box->text();
    else if (auto* menu = qobject_cast<QMenu*>(widget)) {
        for (QAction* action : menu->actions())
            text += action->text() + QLatin1Char(';');
    } else
        text = widget->objectName();
    return (widget->windowTitle() + QLatin1Char('|') + text).toStdString();
}

void closeUnexpected(QWidget* widget) {
    if (auto* dialog = qobject_cast<QDialog*>(widget))
        dialog->reject();
    else
        widget->close();
}

void press(QWidget* dialog, const char* objectName) {
    auto* button = dialog->findChild<QAbstractButton*>(QString::fromLatin1(objectName));
    ASSERT_NE(button, nullptr) << "no button " << objectName << " in " << describe(dialog);
    button->click();
}

} // namespace

DialogScript::DialogScript() {
    poller_.setInterval(PollMilliseconds);
    QObject::connect(&poller_, &QTimer::timeout, [this] { poll(); });
    poller_.start();
}

DialogScript::~DialogScript() {
    poller_.stop();
    for (const Entry& entry : steps_)
        ADD_FAILURE() << "expected dialog never appeared: " << entry.description;
}

void DialogScript::expect(const std::string& description, Step step) {
    steps_.push_back({description, std::move(step)});
}

void DialogScript::expectMessage(QMessageBox::Icon icon, const QString& caption,
                                 const QString& text) {
    expect("message " + text.toStdString(), [=](QWidget* widget) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        ASSERT_NE(box, nullptr) << "expected a message box, got " << describe(widget);
        EXPECT_EQ(box->icon(), icon);
        EXPECT_EQ(box->windowTitle(), caption);
        EXPECT_EQ(box->text(), text);
        EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
        box->button(QMessageBox::Ok)->click();
    });
}

void DialogScript::expectQuestion(const QString& caption, const QString& text, bool yes) {
    expect("question " + text.toStdString(), [=](QWidget* widget) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        ASSERT_NE(box, nullptr) << "expected a question, got " << describe(widget);
        // A question may lose data on Yes: it warns, and Enter answers No.
        EXPECT_EQ(box->icon(), QMessageBox::Warning);
        EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
        EXPECT_EQ(box->windowTitle(), caption);
        EXPECT_EQ(box->text(), text);
        EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
        box->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
    });
}

void DialogScript::expectPassword(const QString& password, const QString& title) {
    expect("password dialog " + title.toStdString(), [=](QWidget* widget) {
        ASSERT_EQ(widget->windowTitle(), title) << describe(widget);
        auto* edit = widget->findChild<QLineEdit*>(QStringLiteral("passwordEdit"));
        ASSERT_NE(edit, nullptr);
        edit->setText(password);
        press(widget, "okButton");
    });
}

void DialogScript::expectAbout() {
    expect("About box", [](QWidget* widget) {
        ASSERT_EQ(widget->objectName(), QStringLiteral("aboutDialog")) << describe(widget);
        press(widget, "okButton");
    });
}

void DialogScript::expectMenu(const std::function<void(QMenu*)>& step) {
    expect("pop-up menu", [=](QWidget* widget) {
        auto* menu = qobject_cast<QMenu*>(widget);
        ASSERT_NE(menu, nullptr) << "expected a menu, got " << describe(widget);
        step(menu);
        // A step that chose nothing must not leave the menu hanging.
        if (menu->isVisible())
            menu->close();
    });
}

void DialogScript::choose(QMenu* menu, const QString& text) {
    for (QAction* action : menu->actions()) {
        if (action->text() == text) {
            menu->setActiveAction(action);
            QTest::keyClick(menu, Qt::Key_Return);
            return;
        }
    }
    ADD_FAILURE() << "the menu has no item " << text.toStdString();
}

bool DialogScript::alreadyTaken(QWidget* widget) const {
    for (const auto& taken : taken_) {
        if (taken == widget)
            return true;
    }
    return false;
}

void DialogScript::poll() {
    QWidget* widget = QApplication::activePopupWidget();
    if (widget == nullptr)
        widget = QApplication::activeModalWidget();
    if (widget == nullptr || !widget->isVisible() || isBusyBox(widget) || alreadyTaken(widget))
        return;
    taken_.emplace_back(widget);
    seen_.push_back(describe(widget));
    if (steps_.empty()) {
        ADD_FAILURE() << "unexpected dialog: " << describe(widget);
        closeUnexpected(widget);
        return;
    }
    Entry entry = std::move(steps_.front());
    steps_.pop_front();
    // The step may open a nested loop of its own; keep polling meanwhile.
    entry.step(widget);
    if (widget->isVisible() && !qobject_cast<QMenu*>(widget)) {
        ADD_FAILURE() << "the step left the dialog open: " << entry.description;
        closeUnexpected(widget);
    }
}

bool DialogScript::waitUntilDone(int milliseconds) {
    return QTest::qWaitFor([this] { return steps_.empty(); }, milliseconds);
}

} // namespace quorvane::test
