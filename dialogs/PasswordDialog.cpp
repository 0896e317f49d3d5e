#include "dialogs/PasswordDialog.h"

#include "dialogs/DialogTexts.h"
#include "dialogs/Dialogs.h"
#include "dialogs/OnScreenKeyboard.h"
#include "dialogs/Utf8Cut.h"
#include "lifecycle/SafeState.h"
#include "ui/PasswordStrength.h"

#include <QBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

namespace quorvane::dialogs {

namespace {

constexpr int BarMaximum = 100;

QLabel* makeLabel(const char* text, QWidget* parent) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setWordWrap(false);
    return label;
}

} // namespace

PasswordDialog::PasswordDialog(QWidget* owner, const char* caption) : QDialog(owner) {
    setWindowTitle(QString::fromUtf8(caption));
    createControls();
    layOutControls();
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    connect(edit_, &QLineEdit::textChanged, this, &PasswordDialog::takeTypedText);
    connect(keyboard_, &QPushButton::clicked, this, [] { startOnScreenKeyboard(); });
    // What is typed at once must reach the password field, not the OK button.
    edit_->setFocus(Qt::OtherFocusReason);
}

// Created in the order of the tab chain: OK, Cancel, the edit, then the rest.
void PasswordDialog::createControls() {
    ok_ = new QPushButton(QString::fromUtf8(texts::Ok), this);
    ok_->setObjectName("okButton");
    ok_->setDefault(true);
    cancel_ = new QPushButton(QString::fromUtf8(texts::Cancel), this);
    cancel_->setObjectName("cancelButton");
    edit_ = new QLineEdit(this);
    edit_->setObjectName("passwordEdit");
    edit_->setEchoMode(QLineEdit::Password);
    edit_->setAccessibleName(QString::fromUtf8(texts::PasswordPrompt));
    prompt_ = makeLabel(texts::PasswordPrompt, this);
    prompt_->setBuddy(edit_);
    bar_ = new QProgressBar(this);
    bar_->setObjectName("strengthBar");
    bar_->setRange(0, BarMaximum);
    bar_->setValue(0);
    bar_->setTextVisible(false);
    bar_->setAccessibleName("Password strength");
    word_ = makeLabel(InitialStrengthWord, this);
    word_->setObjectName("strengthWord");
    word_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    word_->setMinimumWidth(word_->fontMetrics().horizontalAdvance(strengthWord(70)));
    keyboard_ = new QPushButton(QString::fromUtf8(texts::OnScreenKeyboard), this);
    keyboard_->setObjectName("keyboardButton");
    warning1_ = makeLabel(texts::WarningLine1, this);
    warning2_ = makeLabel(texts::WarningLine2, this);
    warning3_ = makeLabel(texts::WarningLine3, this);
    setTabOrder(ok_, cancel_);
    setTabOrder(cancel_, edit_);
    setTabOrder(edit_, keyboard_);
}

// Top to bottom as the dialog has always looked: the warning, the keyboard
// button, the password line, and OK / strength / Cancel along the bottom.
void PasswordDialog::layOutControls() {
    auto* warning = new QVBoxLayout;
    warning->setSpacing(2);
    warning->addWidget(warning1_);
    warning->addWidget(warning2_);

    auto* keyboardRow = new QVBoxLayout;
    keyboardRow->setSpacing(4);
    keyboardRow->addWidget(warning3_);
    keyboardRow->addWidget(keyboard_, 0, Qt::AlignLeft);

    auto* passwordRow = new QHBoxLayout;
    passwordRow->addWidget(prompt_);
    passwordRow->addWidget(edit_, 1);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->addWidget(ok_);
    buttonRow->addStretch(1);
    buttonRow->addWidget(bar_, 2);
    buttonRow->addWidget(word_);
    buttonRow->addStretch(1);
    buttonRow->addWidget(cancel_);

    auto* page = new QVBoxLayout(this);
    page->addLayout(warning);
    page->addSpacing(6);
    page->addLayout(keyboardRow);
    page->addSpacing(6);
    page->addLayout(passwordRow);
    page->addLayout(buttonRow);
    page->setSizeConstraint(QLayout::SetFixedSize);
}

void PasswordDialog::takeTypedText(const QString& text) {
    password_ = firstBytes(text, PasswordLimit);
    showStrength(scorePassword(password_));
}

void PasswordDialog::showStrength(int score) {
    // From 80 up there is no word: the one shown before stays.
    if (const char* word = strengthWord(score))
        word_->setText(QString::fromUtf8(word));
    bar_->setValue(std::clamp(score, 0, BarMaximum));
}

// Every way out passes here: OK settles the text as it stands, and Cancel,
// Esc and the close box all drop it.
void PasswordDialog::done(int result) {
    if (result == QDialog::Accepted)
        password_ = firstBytes(edit_->text(), PasswordLimit);
    else
        password_.clear();
    QDialog::done(result);
}

PasswordDialog::~PasswordDialog() {
    std::fill(password_.begin(), password_.end(), '\0');
}

namespace {

std::optional<std::string> runWithCaption(QWidget* owner, const char* caption) {
    PasswordDialog dialog(owner, caption);
    // Over a window that is not shown yet (the start-up open), a dialog would
    // land in the screen's corner: it goes to the middle of the screen.
    if (owner == nullptr || !owner->isVisible()) {
        dialog.adjustSize();
        if (const QScreen* screen = dialog.screen())
            dialog.move(screen->availableGeometry().center() - dialog.rect().center());
    }
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.typed();
}

} // namespace

std::optional<std::string> runPasswordDialog(QWidget* owner) {
    return runWithCaption(owner, texts::PasswordCaption);
}

std::optional<std::string> runConfirmPasswordDialog(QWidget* owner) {
    return runWithCaption(owner, texts::ConfirmPasswordCaption);
}

} // namespace quorvane::dialogs
