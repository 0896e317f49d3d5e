#pragma once

#include <QDialog>

#include <string>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace quorvane::dialogs {

// "Enter Password": rates the password as it is typed and writes it into
// the caller's password on every change; Cancel leaves the cancel marker.
// A new password is typed a second time into the same dialog under the
// caption "Confirm Password".
// Its widgets carry object names (passwordEdit, strengthBar, strengthWord,
// okButton, cancelButton, keyboardButton) by which tests find them.
class PasswordDialog : public QDialog {
    Q_OBJECT
  public:
    PasswordDialog(QWidget* owner, std::string& password, const char* caption);

    void done(int result) override;

  private:
    void createControls();
    void layOutControls();
    void takeTypedText(const QString& text);
    void showStrength(int score);

    std::string& password_;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QLineEdit* edit_ = nullptr;
    QLabel* prompt_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QLabel* word_ = nullptr;
    QPushButton* keyboard_ = nullptr;
    QLabel* warning1_ = nullptr;
    QLabel* warning2_ = nullptr;
    QLabel* warning3_ = nullptr;
};

} // namespace quorvane::dialogs
