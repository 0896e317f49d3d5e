#include "dialogs/FilterList.h"

#include "dialogs/DialogTexts.h"

namespace quorvane::dialogs {

namespace {

QString entry(const char* shownText, const char* pattern) {
    return QString::fromUtf8(shownText) + QStringLiteral(" (") + QString::fromLatin1(pattern) +
           QLatin1Char(')');
}

} // namespace

QStringList safeFilters() {
    return {entry(texts::SafeFilter, "*.cx"), entry(texts::AllFilesFilter, "*")};
}

QStringList allFilesFilter() {
    return {entry(texts::AllFilesFilter, "*")};
}

} // namespace quorvane::dialogs
