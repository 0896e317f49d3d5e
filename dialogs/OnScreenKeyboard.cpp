#include "dialogs/OnScreenKeyboard.h"

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace quorvane::dialogs {

QString findOnScreenKeyboard() {
    for (const char* name : {"onboard", "xvkbd", "matchbox-keyboard"}) {
        QString program = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!program.isEmpty())
            return program;
    }
    return {};
}

bool startOnScreenKeyboard() {
    const QString program = findOnScreenKeyboard();
    return !program.isEmpty() && QProcess::startDetached(program, QStringList());
}

} // namespace quorvane::dialogs
