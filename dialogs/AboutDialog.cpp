#include "dialogs/DialogTexts.h"
#include "dialogs/Dialogs.h"

#include <QApplication>
#include <QBoxLayout>
#include <QDialog>
#include <QFile>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QSpacerItem>

namespace quorvane::dialogs {

namespace {

constexpr int IconSide = 32;
const char* const ProgramIconPath = ":/icons/app.svg";

// The program icon from the resources when the program carries them, else
// whatever icon the application was given.
QIcon programIcon() {
    if (QFile::exists(QString::fromLatin1(ProgramIconPath)))
        return QIcon(QString::fromLatin1(ProgramIconPath));
    return QApplication::windowIcon();
}

} // namespace

void runAboutDialog(QWidget* owner) {
    QDialog dialog(owner);
    dialog.setObjectName("aboutDialog");
    dialog.setWindowTitle(QString::fromUtf8(texts::AboutCaption));

    auto* icon = new QLabel(&dialog);
    icon->setObjectName("aboutIcon");
    icon->setPixmap(programIcon().pixmap(IconSide, IconSide));
    icon->setFixedSize(IconSide, IconSide);
    auto* name = new QLabel(QString::fromUtf8(texts::ProgramName) + QLatin1Char('\n') +
                                QString::fromUtf8(texts::VersionPrefix) +
                                QString::fromUtf8(QUORVANE_VERSION),
                            &dialog);
    name->setObjectName("aboutText");
    auto* ok = new QPushButton(QString::fromUtf8(texts::Ok), &dialog);
    ok->setObjectName("okButton");
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);

    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addSpacing(12);
    top->addWidget(name, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(ok);
    auto* page = new QVBoxLayout(&dialog);
    page->addLayout(top);
    page->addLayout(bottom);
    page->addItem(new QSpacerItem(captionWidth(dialog), 0, QSizePolicy::Fixed, QSizePolicy::Fixed));
    page->setSizeConstraint(QLayout::SetFixedSize);
    dialog.exec();
}

} // namespace quorvane::dialogs
