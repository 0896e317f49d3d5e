#include "dialogs/RenameDialog.h"

#include "dialogs/DialogTexts.h"
#include "dialogs/Dialogs.h"
#include "dialogs/Utf8Cut.h"

#include <QBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace quorvane::dialogs {

namespace {

// The edit shows 50 characters; the stored name field keeps 49 bytes and
// its terminator.
constexpr int EditLength = 50;
constexpr std::size_t NameLimit = 49;

} // namespace

RenameDialog::RenameDialog(QWidget* owner) : QDialog(owner) {
    setWindowTitle(QString::fromUtf8(texts::RenameCaption));
    auto* ok = new QPushButton(QString::fromUtf8(texts::Ok), this);
    ok->setObjectName("okButton");
    ok->setDefault(true);
    auto* cancel = new QPushButton(QString::fromUtf8(texts::Cancel), this);
    cancel->setObjectName("cancelButton");
    auto* prompt = new QLabel(QString::fromUtf8(texts::RenamePrompt), this);
    edit_ = new QLineEdit(this);
    edit_->setObjectName("nameEdit");
    edit_->setMaxLength(EditLength);
    edit_->setAccessibleName(QString::fromUtf8(texts::RenamePrompt));
    prompt->setBuddy(edit_);
    setTabOrder(ok, cancel);
    setTabOrder(cancel, edit_);

    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(prompt);
    nameRow->addWidget(edit_, 1);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addWidget(ok);
    buttonRow->addStretch(1);
    buttonRow->addWidget(cancel);
    auto* page = new QVBoxLayout(this);
    page->addLayout(nameRow);
    page->addLayout(buttonRow);
    edit_->setMinimumWidth(edit_->fontMetrics().averageCharWidth() * 30);

    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    // The name is typed at once, so the field has the focus, not OK.
    edit_->setFocus(Qt::OtherFocusReason);
}

// A name is cut on a whole character: half a character would become an
// undecodable byte in the stored name and in the file extracted from it.
void RenameDialog::done(int result) {
    if (result == QDialog::Accepted)
        newEntryName_ = firstWholeCharacters(edit_->text(), NameLimit);
    QDialog::done(result);
}

std::optional<std::string> runRenameDialog(QWidget* owner) {
    RenameDialog dialog(owner);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.typed();
}

} // namespace quorvane::dialogs
