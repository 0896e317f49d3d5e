#include "dialogs/Dialogs.h"

#include <QFontMetrics>
#include <QWidget>

namespace quorvane::dialogs {

int captionWidth(const QWidget& window) {
    constexpr int TitleBarButtons = 120;
    return window.fontMetrics().horizontalAdvance(window.windowTitle()) + TitleBarButtons;
}

} // namespace quorvane::dialogs
