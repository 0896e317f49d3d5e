#include "cli/AddUpdate.h"

#include "storage/format/Container.h"
#include "storage/workingcopy/PlainFile.h"

#include <cstring>
#include <fcntl.h>
#include <set>

namespace quorvane {

namespace {

constexpr std::size_t CompareBlock = 1 << 20;

// Whether the file holds exactly the entry's bytes; the entry's size was
// compared already. A file or a working copy that cannot be read fails.
CliResult<bool> sameBytes(SafeState& state, std::size_t row, const SourceFile& source) {
    int error = 0;
    const auto file = PlainFile::open(source.path, O_RDONLY, error);
    if (!file)
        return CliFailure{ExitCode::Failed, source.path + ": " + std::strerror(error)};
    std::vector<char> stored(CompareBlock);
    std::vector<char> given(CompareBlock);
    for (std::uint64_t at = 0; at < source.size; at += CompareBlock) {
        const auto count =
            static_cast<std::size_t>(std::min<std::uint64_t>(CompareBlock, source.size - at));
        const std::int64_t got = contentsOf(state).read(state, row, at, stored.data(), count);
        if (got != static_cast<std::int64_t>(count))
            return CliFailure{ExitCode::Failed, failureText(contentsOf(state).lastError())};
        if (!file->readAt(at, given.data(), count))
            return CliFailure{ExitCode::Failed,
                              source.path + ": " + failureText(file->lastError())};
        if (std::memcmp(stored.data(), given.data(), count) != 0)
            return false;
    }
    return true;
}

std::vector<std::size_t> rowsNamed(const SafeState& state, const std::string& name) {
    std::vector<std::size_t> rows;
    for (std::size_t row = 0; row < state.entryDetails.size(); ++row)
        if (state.entryDetails[row].name == name)
            rows.push_back(row);
    return rows;
}

} // namespace

CliResult<UpdatePlan> planUpdate(SafeState& state, const std::vector<SourceFile>& sources) {
    UpdatePlan plan;
    std::set<std::size_t> claimed; // an entry is replaced by one file at most
    for (const SourceFile& source : sources) {
        const auto rows = rowsNamed(state, storedPathOf(state, source));
        bool same = false;
        for (std::size_t row : rows) {
            if (state.entryDetails[row].size != source.size)
                continue;
            const CliResult<bool> compared = sameBytes(state, row, source);
            if (!compared)
                return compared.failure();
            same = compared.value();
            if (same)
                break;
        }
        if (same) {
            ++plan.unchanged;
            continue;
        }
        plan.toStore.push_back(source);
        if (rows.size() == 1 && claimed.insert(rows.front()).second)
            plan.replaces.emplace_back(static_cast<int>(rows.front()));
        else
            plan.replaces.emplace_back(std::nullopt);
    }
    return plan;
}

} // namespace quorvane
