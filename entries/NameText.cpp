#include "entries/NameText.h"

#include <cstdio>

namespace quorvane {

namespace {

bool isContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Characters that change how the text around them is laid out or read
// rather than showing themselves.
bool actsInsteadOfShowing(char32_t point) {
    return point < 0x20 || (point >= 0x7F && point <= 0x9F) || point == 0x061C || point == 0x200E ||
           point == 0x200F || point == 0x2028 || point == 0x2029 ||
           (point >= 0x202A && point <= 0x202E) || (point >= 0x2066 && point <= 0x2069);
}

} // namespace

char32_t utf8CodePointAt(const std::string& name, std::size_t at, std::size_t& length) {
    length = 0;
    const auto lead = static_cast<unsigned char>(name[at]);
    std::size_t count = 0;
    char32_t point = 0;
    char32_t smallest = 0;
    if (lead < 0x80) {
        length = 1;
        return lead;
    }
    if ((lead & 0xE0) == 0xC0) {
        count = 2, point = lead & 0x1F, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        count = 3, point = lead & 0x0F, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        count = 4, point = lead & 0x07, smallest = 0x10000;
    } else {
        return 0;
    }
    if (name.size() - at < count)
        return 0;
    for (std::size_t i = 1; i < count; ++i) {
        const auto byte = static_cast<unsigned char>(name[at + i]);
        if (!isContinuation(byte))
            return 0;
        point = (point << 6) | (byte & 0x3F);
    }
    // Overlong forms, surrogates and points beyond Unicode are no UTF-8.
    if (point < smallest || (point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF)
        return 0;
    length = count;
    return point;
}

std::size_t printableSequenceAt(const std::string& name, std::size_t at) {
    std::size_t length = 0;
    const char32_t point = utf8CodePointAt(name, at, length);
    return length == 0 || actsInsteadOfShowing(point) ? 0 : length;
}

std::string withActingCharactersEscaped(const std::string& name) {
    std::string shown;
    for (std::size_t at = 0; at < name.size();) {
        std::size_t length = 0;
        const char32_t point = utf8CodePointAt(name, at, length);
        if (length == 0) {
            shown += name[at++];
            continue;
        }
        if (!actsInsteadOfShowing(point)) {
            shown.append(name, at, length);
        } else {
            for (std::size_t i = 0; i < length; ++i) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\x%02X",
                              static_cast<unsigned>(static_cast<unsigned char>(name[at + i])));
                shown += escaped;
            }
        }
        at += length;
    }
    return shown;
}

bool isUtf8(const std::string& name) {
    for (std::size_t at = 0; at < name.size();) {
        std::size_t length = 0;
        utf8CodePointAt(name, at, length);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

} // namespace quorvane
