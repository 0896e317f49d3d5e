#include "cli/JsonText.h"

#include "entries/NameText.h"

#include <cryptopp/filters.h>
#include <cryptopp/hex.h>

#include <cstdio>
#include <ctime>
#include <optional>
#include <unordered_map>

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

std::string modifiedJson(const EntryStamp& stamp) {
    const auto seconds = static_cast<std::time_t>(stamp.modifiedSeconds);
    std::tm utc{};
    char text[64] = {};
    if (::gmtime_r(&seconds, &utc) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc) == 0)
        return "null";
    std::string json = std::string("\"") + text;
    if (stamp.modifiedNanoseconds != 0) {
        char fraction[16];
        std::snprintf(fraction, sizeof fraction, ".%09u", stamp.modifiedNanoseconds);
        json += fraction;
    }
    return json + "Z\"";
}

namespace {

std::string entryJson(const std::optional<std::size_t>& row, const std::string& name,
                      std::uint64_t size) {
    std::string json = "{";
    if (row)
        json += "\"number\":" + std::to_string(*row) + ",";
    json += "\"name\":" + jsonString(name);
    if (!isUtf8(name))
        json += ",\"name_hex\":\"" + lowercaseHex(name) + "\"";
    return json + ",\"size\":" + std::to_string(size) + ",\"path\":" + jsonString(name);
}

} // namespace

std::string entriesJson(const std::vector<EntryDetail>& rows,
                        const std::vector<ContentEntry>& entries, bool keepsTree) {
    std::string json = "{\"entries\":[";
    bool first = true;
    const auto next = [&] {
        json += first ? "\n" : ",\n";
        first = false;
    };
    if (!keepsTree) {
        // The plain format keeps no times: every row as it always was, and null.
        for (std::size_t row = 0; row < rows.size(); ++row) {
            next();
            json += entryJson(row, rows[row].name, rows[row].size) +
                    ",\"kind\":\"file\",\"modified\":null}";
        }
        return json + (first ? "]}\n" : "\n]}\n");
    }
    std::unordered_map<std::string, std::size_t> rowOf;
    for (std::size_t row = 0; row < rows.size(); ++row)
        rowOf.emplace(rows[row].name, row);
    for (const ContentEntry& entry : entries) {
        next();
        const bool folder = entry.kind == ContentKind::Folder;
        const auto row = rowOf.find(entry.path);
        json += entryJson(folder || row == rowOf.end() ? std::nullopt
                                                       : std::optional<std::size_t>(row->second),
                          entry.path, entry.size) +
                ",\"kind\":" + (folder ? "\"folder\"" : "\"file\"") +
                ",\"modified\":" + modifiedJson(entry.stamp) + "}";
    }
    return json + (first ? "]}\n" : "\n]}\n");
}

} // namespace quorvane
