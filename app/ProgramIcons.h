#pragma once

#include <QIcon>

namespace quorvane {

// The program's pictures, named by the resource numbers the rest of the
// program uses: 107 and 108 the program icon, 136 to 141 the toolbar.
// An unknown number gives an empty icon.
QIcon programIcon(int resourceId);

// The window and application icon (107 and 108 share one scalable picture).
QIcon applicationIcon();

} // namespace quorvane
