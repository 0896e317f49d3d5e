#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace quorvane {

// What the window shows in place of the list while its safe is locked: the
// safe's name, "Locked", why, and a password field with an Unlock button
// that opens the same safe again.
class LockedView : public QWidget {
    Q_OBJECT

  public:
    explicit LockedView(QWidget* parent = nullptr);

    // safeName: the file's name; note: why it was locked, and what was left.
    void showFor(const QString& safeName, const QString& note);
    QLineEdit* passwordField() const { return password_; }
    QPushButton* unlockButton() const { return unlock_; }
    QLabel* noteLabel() const { return note_; }

  signals:
    // The typed password, as the file system's bytes would take it.
    void unlockRequested(const QByteArray& password);

  private:
    QLabel* name_ = nullptr;
    QLabel* note_ = nullptr;
    QLineEdit* password_ = nullptr;
    QPushButton* unlock_ = nullptr;
};

} // namespace quorvane
