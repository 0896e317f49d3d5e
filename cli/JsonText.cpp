#include "cli/JsonText.h"

#include "entries/NameText.h"

#include <cryptopp/filters.h>
#include <cryptopp/hex.h>

#include <cstdio>

namespace quorvane {

namespace {

std::string unicodeEscape(char32_t point) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(point));
    return escaped;
}

std::string lowercaseHex(const std::string& bytes) {
    std::string hex;
    CryptoPP::StringSource source(bytes, true,
                                  new CryptoPP::HexEncoder(new CryptoPP::StringSink(hex), false));
    return hex;
}

} // namespace

std::string jsonString(const std::string& text) {
    std::string json = "\"";
    for (std::size_t at = 0; at < text.size();) {
        std::size_t length = 0;
        const char32_t point = utf8CodePointAt(text, at, length);
        if (length == 0) {
            json += unicodeEscape(0xFFFD); // a byte that is no UTF-8
            ++at;
        } else if (point == '"' || point == '\\') {
            json += '\\';
            json += static_cast<char>(point);
            at += length;
        } else if (printableSequenceAt(text, at) == 0) {
            // Controls and marks below U+FFFF: one \u escape each.
            json += unicodeEscape(point);
            at += length;
        } else {
            json.append(text, at, length);
            at += length;
        }
    }
    return json + "\"";
}

std::string entriesJson(const std::vector<EntryDetail>& entries) {
    std::string json = "{\"entries\":[";
    for (std::size_t row = 0; row < entries.size(); ++row) {
        const EntryDetail& entry = entries[row];
        json += row == 0 ? "\n" : ",\n";
        json += "{\"number\":" + std::to_string(row) + ",\"name\":" + jsonString(entry.name);
        if (!isUtf8(entry.name))
            json += ",\"name_hex\":\"" + lowercaseHex(entry.name) + "\"";
        json += ",\"size\":" + std::to_string(entry.size) + "}";
    }
    return json + (entries.empty() ? "]}\n" : "\n]}\n");
}

} // namespace quorvane
