// A change keeps the index in memory in step with what it wrote, and the list
// with it, instead of reading every record again: after each kind of change,
// worked or failed, both must be exactly what a fresh load shows.

#include "lifecycle/EntryListing.h"

#include "EntriesFixture.h"

namespace quorvane::test {
namespace {

using KeptIndex = EntriesTest;

TEST_F(KeptIndex, EveryChangeLeavesWhatAFreshLoadShows) {
    openContainer(containerBytes({{"one", "1111"}, {"two", "22"}, {"three", "333333"}}));
    const struct {
        const char* what;
        std::function<void()> change;
    } changes[] = {
        {"add a small file", [&] { addKeepingOriginal(source("small", "s")); }},
        {"add a file copied in a long step",
         [&] { addKeepingOriginal(source("large", patternBytes(5 * StreamBlockSize + 3))); }},
        {"an add whose source shrinks before the copy",
         [&] {
             const auto path = source("shrinks", patternBytes(5 * StreamBlockSize));
             shell.beforeStep = [&](int) { std::filesystem::resize_file(path, 10); };
             addKeepingOriginal(path);
             shell.beforeStep = nullptr;
         }},
        {"rename",
         [&] {
             shell.focused = 1;
             shell.renameAnswers.push_back(std::string(60, 'r'));
             renameFile(session);
         }},
        {"delete the first",
         [&] {
             shell.focused = 0;
             deleteFile(session);
         }},
        {"delete the last",
         [&] {
             shell.focused = static_cast<int>(state.indexRows.size()) - 1;
             deleteFile(session);
         }},
    };
    for (const auto& c : changes) {
        SCOPED_TRACE(c.what);
        c.change();
        const ContainerIndex kept = state;
        const std::vector<ListRow> rows = shell.rows;
        ScriptedShell fresh;
        refreshEntryList(state, fresh);
        EXPECT_EQ(static_cast<const ContainerIndex&>(state), kept);
        EXPECT_EQ(fresh.rows, rows);
        EXPECT_FALSE(state.readOnly);
    }
    EXPECT_EQ(shell.rows.size(), 3u); // three, two added, two deleted
}

} // namespace
} // namespace quorvane::test
