#include "dialogs/BusyDialog.h"

#include "dialogs/DialogTexts.h"

#include <QBoxLayout>
#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>

namespace quorvane::dialogs {

namespace {

constexpr int LineWidth = 220;
constexpr int BarWidth = 130;

QLabel* centredLabel(const QString& text, const char* name, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setAlignment(Qt::AlignCenter);
    label->setMinimumWidth(LineWidth);
    return label;
}

} // namespace

BusyDialog::BusyDialog(const QString& text)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowStaysOnTopHint) {
    setObjectName("busyDialog");
    setWindowTitle(QString::fromUtf8(texts::BusyCaption));
    setWindowModality(Qt::ApplicationModal);

    auto* bar = new QProgressBar(this);
    bar->setObjectName("busyBar");
    bar->setRange(0, 0); // no amount: an endless animation
    bar->setTextVisible(false);
    bar->setFixedWidth(BarWidth);

    auto* page = new QVBoxLayout(this);
    page->addWidget(centredLabel(text, "busyText", this));
    page->addWidget(centredLabel(QString(), "busyDetail", this));
    page->addWidget(bar, 0, Qt::AlignHCenter);
    page->setSizeConstraint(QLayout::SetFixedSize);
}

void BusyDialog::setText(const QString& text) {
    if (auto* label = findChild<QLabel*>(QStringLiteral("busyText"));
        label && label->text() != text)
        label->setText(text);
}

void BusyDialog::setDetail(const QString& detail) {
    if (auto* label = findChild<QLabel*>(QStringLiteral("busyDetail"));
        label && label->text() != detail)
        label->setText(detail);
}

// Esc lands here; the box stays until the program hides it.
void BusyDialog::reject() {}

void BusyDialog::closeEvent(QCloseEvent* event) {
    event->ignore();
}

} // namespace quorvane::dialogs
