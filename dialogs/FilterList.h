#pragma once

#include <QStringList>

namespace quorvane::dialogs {

// The pickers' filter entries in their order. Each entry is the shown text
// followed by its real pattern in parentheses; the pickers hide that last
// part (HideNameFilterDetails), so "All Files (*.*)" is what a person reads
// while the pattern "*" also lists names without a dot, which "*.*" would
// hide on this platform.
QStringList safeFilters();    // "Cofferix files (*.cx)", "All Files (*.*)"
QStringList allFilesFilter(); // "All Files (*.*)" only

} // namespace quorvane::dialogs
