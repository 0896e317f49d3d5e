#pragma once

#include <QDialog>

class QCloseEvent;

namespace quorvane::dialogs {

// The "Please Wait" box: the operation's text, an empty second line and an
// endless bar. It has no close box and ignores Esc and close requests, so
// only the program takes it down. Its labels are named busyText and
// busyDetail, the bar busyBar.
class BusyDialog : public QDialog {
    Q_OBJECT
  public:
    explicit BusyDialog(const QString& text);

    void setText(const QString& text);
    // The second line: the figures of a long run of files.
    void setDetail(const QString& detail);

    void reject() override;

  protected:
    void closeEvent(QCloseEvent* event) override;
};

} // namespace quorvane::dialogs
