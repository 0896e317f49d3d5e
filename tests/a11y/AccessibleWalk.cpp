#include "tests/a11y/AccessibleWalk.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QScrollBar>
#include <QTextEdit>

namespace quorvane::test {

namespace {

constexpr int PollMs = 20;
// Bounded so that a cycle in a broken accessibility tree cannot hang a test.
constexpr int MaxAccessibleObjects = 10000;

bool isControl(QWidget* widget) {
    if (qobject_cast<QHeaderView*>(widget) || qobject_cast<QScrollBar*>(widget))
        return false;
    return qobject_cast<QAbstractButton*>(widget) || qobject_cast<QLineEdit*>(widget) ||
           qobject_cast<QTextEdit*>(widget) || qobject_cast<QAbstractItemView*>(widget) ||
           qobject_cast<QProgressBar*>(widget) || qobject_cast<QComboBox*>(widget) ||
           qobject_cast<QAbstractSpinBox*>(widget) || qobject_cast<QAbstractSlider*>(widget);
}

void collectTexts(QAccessibleInterface* node, QStringList& texts, int& budget) {
    if (node == nullptr || !node->isValid() || --budget < 0)
        return;
    for (QAccessible::Text kind :
         {QAccessible::Name, QAccessible::Description, QAccessible::Value, QAccessible::Help}) {
        const QString text = node->text(kind);
        if (!text.isEmpty())
            texts << text;
    }
    if (QAccessibleTextInterface* field = node->textInterface())
        texts << field->text(0, field->characterCount());
    if (QAccessibleValueInterface* value = node->valueInterface())
        texts << value->currentValue().toString();
    for (int i = 0; i < node->childCount(); ++i)
        collectTexts(node->child(i), texts, budget);
}

} // namespace

std::vector<QWidget*> controlsOf(QWidget* window) {
    std::vector<QWidget*> controls;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (isControl(widget) && widget->isVisibleTo(window))
            controls.push_back(widget);
    }
    return controls;
}

QString accessibleName(QWidget* widget) {
    QAccessibleInterface* node = QAccessible::queryAccessibleInterface(widget);
    return node != nullptr ? node->text(QAccessible::Name) : QString();
}

QString describe(QWidget* widget) {
    QString text;
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        text = button->text();
    return QStringLiteral("%1 '%2' (object name '%3')")
        .arg(QString::fromLatin1(widget->metaObject()->className()), text, widget->objectName());
}

QStringList everyAccessibleText(QWidget* window) {
    QStringList texts;
    int budget = MaxAccessibleObjects;
    collectTexts(QAccessible::queryAccessibleInterface(window), texts, budget);
    return texts;
}

NextWindow::NextWindow(Kind kind, std::function<void(QWidget*)> visit, int timeoutMs)
    : kind_(kind), visit_(std::move(visit)), remainingPolls_(timeoutMs / PollMs) {
    timer_.setInterval(PollMs);
    QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
    timer_.start();
}

NextWindow::~NextWindow() {
    timer_.stop();
}

void NextWindow::poll() {
    QWidget* found = kind_ == Kind::ModalDialog ? QApplication::activeModalWidget()
                                                : QApplication::activePopupWidget();
    if (found == nullptr) {
        if (--remainingPolls_ <= 0)
            timer_.stop();
        return;
    }
    timer_.stop();
    visited_ = true;
    const QPointer<QWidget> guard(found);
    visit_(found);
    if (guard.isNull())
        return;
    // Whatever visit left open must not block the caller's modal loop.
    if (auto* dialog = qobject_cast<QDialog*>(found); dialog != nullptr && dialog->isVisible())
        dialog->reject();
    else if (auto* menu = qobject_cast<QMenu*>(found); menu != nullptr && menu->isVisible())
        menu->close();
}

} // namespace quorvane::test
