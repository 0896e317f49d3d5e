#include "app/LockedView.h"

#include <QBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace quorvane {

LockedView::LockedView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("LockedView"));
    name_ = new QLabel(this);
    name_->setObjectName(QStringLiteral("LockedSafeName"));
    QFont large = name_->font();
    large.setPointSizeF(large.pointSizeF() * 1.4);
    large.setBold(true);
    name_->setFont(large);
    auto* locked = new QLabel(QStringLiteral("Locked"), this);
    locked->setObjectName(QStringLiteral("LockedLabel"));
    note_ = new QLabel(this);
    note_->setObjectName(QStringLiteral("LockedNote"));
    note_->setWordWrap(true);
    password_ = new QLineEdit(this);
    password_->setObjectName(QStringLiteral("UnlockPassword"));
    password_->setEchoMode(QLineEdit::Password);
    password_->setAccessibleName(QStringLiteral("Password"));
    password_->setPlaceholderText(QStringLiteral("Password"));
    unlock_ = new QPushButton(QStringLiteral("&Unlock"), this);
    unlock_->setObjectName(QStringLiteral("UnlockButton"));
    unlock_->setDefault(true);

    auto* row = new QHBoxLayout;
    row->addWidget(password_, 1);
    row->addWidget(unlock_);
    auto* column = new QVBoxLayout(this);
    column->addStretch(1);
    for (QLabel* label : {name_, locked, note_}) {
        label->setAlignment(Qt::AlignHCenter);
        column->addWidget(label);
    }
    column->addLayout(row);
    column->addStretch(2);
    constexpr int Margin = 48;
    column->setContentsMargins(Margin, 0, Margin, 0);

    const auto request = [this] {
        QByteArray typed = password_->text().toUtf8();
        password_->clear();
        emit unlockRequested(typed);
        typed.fill('\0');
    };
    connect(unlock_, &QPushButton::clicked, this, request);
    connect(password_, &QLineEdit::returnPressed, this, request);
}

void LockedView::showFor(const QString& safeName, const QString& note) {
    name_->setText(safeName);
    note_->setText(note);
    note_->setVisible(!note.isEmpty());
    password_->clear();
    password_->setFocus(Qt::OtherFocusReason);
}

} // namespace quorvane
