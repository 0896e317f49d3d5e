#include "cli/ListFormat.h"

namespace quorvane {

std::string escapeEntryName(const std::string& name) {
    static constexpr char HexDigits[] = "0123456789abcdef";
    std::string escaped;
    escaped.reserve(name.size());
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        switch (byte) {
        case '\\':
            escaped += "\\\\";
            break;
        case '\t':
            escaped += "\\t";
            break;
        case '\n':
            escaped += "\\n";
            break;
        case '\r':
            escaped += "\\r";
            break;
        default:
            if (byte < 0x20 || byte == 0x7F) {
                escaped += "\\x";
                escaped += HexDigits[byte >> 4];
                escaped += HexDigits[byte & 0x0F];
            } else {
                escaped += c;
            }
        }
    }
    return escaped;
}

std::string formatListLine(std::size_t row, const EntryDetail& entry) {
    return std::to_string(row) + '\t' + std::to_string(entry.size) + '\t' +
           escapeEntryName(entry.name) + '\n';
}

} // namespace quorvane
