#include "cli/ListFormat.h"

#include "entries/NameText.h"

#include <unordered_map>

namespace quorvane {

std::string escapeEntryName(const std::string& name) {
    static constexpr char HexDigits[] = "0123456789abcdef";
    std::string escaped;
    escaped.reserve(name.size());
    for (std::size_t at = 0; at < name.size();) {
        const auto byte = static_cast<unsigned char>(name[at]);
        const std::size_t length = printableSequenceAt(name, at);
        if (byte == '\\') {
            escaped += "\\\\";
        } else if (byte == '\t') {
            escaped += "\\t";
        } else if (byte == '\n') {
            escaped += "\\n";
        } else if (byte == '\r') {
            escaped += "\\r";
        } else if (length > 0) {
            escaped.append(name, at, length);
            at += length;
            continue;
        } else {
            escaped += "\\x";
            escaped += HexDigits[byte >> 4];
            escaped += HexDigits[byte & 0x0F];
        }
        ++at;
    }
    return escaped;
}

std::string formatListLine(std::size_t row, const EntryDetail& entry) {
    return std::to_string(row) + '\t' + std::to_string(entry.size) + '\t' +
           escapeEntryName(entry.name) + '\n';
}

std::string formatTreeList(const std::vector<EntryDetail>& rows,
                           const std::vector<ContentEntry>& entries) {
    std::unordered_map<std::string, std::size_t> rowOf;
    for (std::size_t row = 0; row < rows.size(); ++row)
        rowOf.emplace(rows[row].name, row);
    std::string list;
    for (const ContentEntry& entry : entries) {
        const auto row = rowOf.find(entry.path);
        if (entry.kind == ContentKind::Folder)
            list += "-\t-\t" + escapeEntryName(entry.path) + "/\n";
        else if (row != rowOf.end())
            list += std::to_string(row->second) + '\t' + std::to_string(entry.size) + '\t' +
                    escapeEntryName(entry.path) + '\n';
    }
    return list;
}

} // namespace quorvane
