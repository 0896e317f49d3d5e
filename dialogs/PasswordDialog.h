#pragma once

#include <QDialog>

#include <string>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace quorvane::dialogs {

// "Enter Password": rates the password as it is typed; accepted() hands the
// typed text back, and a cancelled dialog keeps none of it.
// A new password is typed a second time into the same dialog under the
// caption "Confirm Password".
// Its widgets carry object names (passwordEdit, strengthBar, strengthWord,
// okButton, cancelButton, keyboardButton) by which tests find them.
class PasswordDialog : public QDialog {
    Q_OBJECT
  public:
    PasswordDialog(QWidget* owner, const char* caption);
    ~PasswordDialog() override;

    void done(int result) override;
    // What was typed, after OK.
    const std::string& typed() const { return password_; }

  private:
    void createControls();
    void layOutControls();
    void takeTypedText(const QString& text);
    void showStrength(int score);

    std::string password_;
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
