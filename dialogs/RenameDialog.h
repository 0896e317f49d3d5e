#pragma once

#include <QDialog>

#include <string>

class QLineEdit;

namespace quorvane::dialogs {

// "Dialog" / "Enter New Filename:". The edit takes 50 characters; the name
// handed back is at most 49 bytes, or "-1" when the dialog is cancelled.
// The edit is named nameEdit, the buttons okButton and cancelButton.
class RenameDialog : public QDialog {
    Q_OBJECT
  public:
    RenameDialog(QWidget* owner, std::string& newEntryName);

    void done(int result) override;

  private:
    std::string& newEntryName_;
    QLineEdit* edit_ = nullptr;
};

} // namespace quorvane::dialogs
