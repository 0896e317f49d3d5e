#include "dialogs/Utf8Cut.h"

#include <QByteArray>

namespace quorvane::dialogs {

namespace {

bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

} // namespace

std::string firstBytes(const QString& text, std::size_t limit) {
    std::string bytes = text.toStdString();
    if (bytes.size() > limit)
        bytes.resize(limit);
    return bytes;
}

std::string firstWholeCharacters(const QString& text, std::size_t limit) {
    std::string bytes = text.toStdString();
    if (bytes.size() <= limit)
        return bytes;
    // Step back over the continuation bytes of the character the limit splits.
    std::size_t end = limit;
    while (end > 0 && isContinuationByte(bytes[end]))
        --end;
    bytes.resize(end);
    return bytes;
}

} // namespace quorvane::dialogs
