#include "lifecycle/EntryListing.h"

#include "lifecycle/LifecycleTexts.h"
#include "storage/format/Container.h"

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <string>
#include <unordered_map>
#include <vector>

namespace quorvane {

namespace {

// The list shows entry numbers as signed 32-bit values ("%d"), as it always has.
std::string signedDecimal(std::uint32_t value) {
    return std::to_string(static_cast<std::int32_t>(value));
}

} // namespace

std::string sizeText(std::uint32_t size) {
    // Stored sizes are unsigned: a file of 2 GiB or more must not read negative.
    return std::to_string(size) + " Bytes";
}

std::optional<Failure> loadIndex(SafeState& state, Shell& shell) {
    IndexReadResult report = contentsOf(state).list(state);
    state.indexDamaged = report.damaged;
    // Never cleared here: a session that once lost its footing stays read-only.
    if (!report.clean())
        state.readOnly = true;
    if (report.versionMismatch)
        shell.talk.showMessage(lifecycle_text::IncompatibleFile, lifecycle_text::Error,
                               MessageIcon::Error);
    if (report.readFailed)
        return Failure{0, report.readError};
    return std::nullopt;
}

namespace {

EntryRow rowOf(const SafeState& state, std::size_t i) {
    return {signedDecimal(state.indexRows[i].entryNumber), state.entryDetails[i].name,
            sizeText(state.entryDetails[i].size)};
}

// "2025-06-01 12:00", in local time.
std::string modifiedText(const EntryStamp& stamp) {
    const auto seconds = static_cast<std::time_t>(stamp.modifiedSeconds);
    std::tm local{};
    char text[32];
    if (localtime_r(&seconds, &local) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local) == 0)
        return "";
    return text;
}

// Where the safe keeps folders and times, each file's row gets its time,
// and each folder a row of its own (so that an empty one shows too).
void addTreeDetails(SafeState& state, std::vector<EntryRow>& rows) {
    SafeContents& contents = contentsOf(state);
    if (!contents.keepsTree())
        return;
    const std::vector<ContentEntry> entries = contents.entries(state);
    std::unordered_map<std::string, const EntryStamp*> stamps;
    for (const ContentEntry& entry : entries)
        if (entry.kind == ContentKind::File)
            stamps.emplace(entry.path, &entry.stamp);
    for (EntryRow& row : rows)
        if (const auto found = stamps.find(row.name); found != stamps.end())
            row.modified = modifiedText(*found->second);
    for (const ContentEntry& entry : entries)
        if (entry.kind == ContentKind::Folder)
            rows.push_back({"", entry.path, "", modifiedText(entry.stamp), true});
}

} // namespace

void showEntryList(SafeState& state, Shell& shell) {
    // A damaged container loads fewer rows than its header counts: list only
    // the rows that were loaded, so that row i stays entry i.
    const std::size_t count = std::min(state.indexRows.size(), state.entryDetails.size());
    std::vector<EntryRow> rows;
    rows.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        rows.push_back(rowOf(state, i));
    addTreeDetails(state, rows);
    shell.list.showRows(std::move(rows));
}

void showAddedRow(SafeState& state, Shell& shell) {
    if (state.indexRows.empty() || state.indexRows.size() != state.entryDetails.size())
        return;
    EntryRow row = rowOf(state, state.indexRows.size() - 1);
    if (contentsOf(state).keepsTree())
        if (const auto entry = contentsOf(state).entry(state, row.name))
            row.modified = modifiedText(entry->stamp);
    shell.list.appendRow(std::move(row));
}

std::optional<Failure> refreshEntryList(SafeState& state, Shell& shell) {
    shell.list.showRows({});
    if (!isSafeOpen(state)) {
        shell.talk.showMessage(lifecycle_text::UnableToReadFile, lifecycle_text::Error,
                               MessageIcon::Error);
        return std::nullopt;
    }
    std::optional<Failure> unread = loadIndex(state, shell);
    showEntryList(state, shell);
    return unread;
}

} // namespace quorvane
