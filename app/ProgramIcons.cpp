#include "app/ProgramIcons.h"

#include <QString>

// The icons live in a static library: its resource initialiser is only
// linked in when something refers to it, so ask for it explicitly.
static void initialiseIconResources() {
    Q_INIT_RESOURCE(quorvane);
}

namespace quorvane {

namespace {

QString iconPath(int resourceId) {
    switch (resourceId) {
    case 107:
    case 108:
        return QStringLiteral(":/icons/quorvane.svg");
    case 136:
        return QStringLiteral(":/icons/open-safe.svg");
    case 137:
        return QStringLiteral(":/icons/add-file.svg");
    case 138:
        return QStringLiteral(":/icons/delete-file.svg");
    case 139:
        return QStringLiteral(":/icons/new-safe.svg");
    case 140:
        return QStringLiteral(":/icons/save-safe.svg");
    case 141:
        return QStringLiteral(":/icons/extract.svg");
    default:
        return {};
    }
}

} // namespace

QIcon programIcon(int resourceId) {
    static const bool initialised = (initialiseIconResources(), true);
    (void)initialised;
    const QString path = iconPath(resourceId);
    if (path.isEmpty())
        return {};
    return QIcon(path);
}

QIcon applicationIcon() {
    return programIcon(107);
}

} // namespace quorvane
