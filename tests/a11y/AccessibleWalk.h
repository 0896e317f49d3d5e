#pragma once

// What a screen reader and a keyboard user get from a window, read through
// Qt's accessibility interfaces, the layer the platform bridges speak to.

#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

class QWidget;

namespace quorvane::test {

// The controls of a window that a user can reach or read as one thing:
// buttons, fields, lists, bars, boxes; visible in the window as it is shown.
// Parts of other controls (a list's header, scroll bars) are left out.
std::vector<QWidget*> controlsOf(QWidget* window);

// The name a screen reader announces for the widget.
QString accessibleName(QWidget* widget);

// "QPushButton 'OK'" style words for messages.
QString describe(QWidget* widget);

// Every text the accessibility layer hands out for the window and all its
// descendants: names, descriptions, values, help and the contents of text
// fields.
QStringList everyAccessibleText(QWidget* window);

// Calls visit with the first modal dialog (or pop-up menu) that appears,
// polling the event loop, and closes it afterwards if visit did not. A
// dialog that never appears leaves visited() false instead of hanging.
class NextWindow {
  public:
    enum class Kind { ModalDialog, PopupMenu };
    NextWindow(Kind kind, std::function<void(QWidget*)> visit, int timeoutMs = 5000);
    ~NextWindow();
    NextWindow(const NextWindow&) = delete;
    NextWindow& operator=(const NextWindow&) = delete;

    bool visited() const { return visited_; }

  private:
    void poll();

    Kind kind_;
    std::function<void(QWidget*)> visit_;
    int remainingPolls_;
    bool visited_ = false;
    QTimer timer_;
};

} // namespace quorvane::test
