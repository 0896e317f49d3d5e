#pragma once

#include <QDialog>

#include <string>

class QLineEdit;

namespace quorvane::dialogs {

// "Dialog" / "Enter New Filename:". The edit takes 50 characters; the name
// handed back at OK is at most 49 bytes.
// The edit is named nameEdit, the buttons okButton and cancelButton.
class RenameDialog : public QDialog {
    Q_OBJECT
  public:
    explicit RenameDialog(QWidget* owner);

    void done(int result) override;
    const std::string& typed() const { return newEntryName_; }

  private:
    std::string newEntryName_;
    QLineEdit* edit_ = nullptr;
};

} // namespace quorvane::dialogs
