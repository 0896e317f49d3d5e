// A safe whose container did not load cleanly (a wrong password whose padding
// happened to fit, another version, rows that point outside the file) can be
// listed and extracted, but nothing may change it and nothing may write it.

#include "lifecycle/Lifecycle.h"
#include "lifecycle/LifecycleTexts.h"
#include "tests/entries/EntriesFixture.h"

namespace quorvane::test {
namespace {

const std::string ReadOnlyMessage = std::string("message:Error:") + lifecycle_text::ReadOnlySafe;

// A container whose last row points past the table: loading leaves it out.
std::string containerWithABadRow() {
    std::string bytes = containerBytes({{"kept.txt", "kept"}, {"lost.txt", "lost"}});
    const std::size_t lastRowOffset = bytes.size() - 4;
    bytes.replace(lastRowOffset, 4, le32(0x7FFFFFF0));
    return bytes;
}

struct Unclean {
    const char* what;
    std::string container;
};

class ReadOnlySession : public EntriesTest, public ::testing::WithParamInterface<Unclean> {};

TEST_P(ReadOnlySession, EveryChangeIsRefusedNothingIsWrittenAndExtractStillWorks) {
    openContainer(GetParam().container);
    ASSERT_TRUE(state.readOnly);
    const std::string before = workingCopyBytes();
    const auto original = source("new.txt", "must stay");

    const std::vector<std::pair<const char*, std::function<void()>>> changes = {
        {"add",
         [&] {
             shell.addFilePickerAnswers.push_back(original.string());
             shell.yesNoAnswers.push_back(true);
             addFile(session);
         }},
        {"drop", [&] { addDroppedFiles(session, {original.string()}); }},
        {"delete",
         [&] {
             shell.focused = 0;
             deleteFile(session);
         }},
        {"rename",
         [&] {
             shell.focused = 0;
             shell.renameAnswers.push_back("renamed");
             renameFile(session);
         }},
        {"change password",
         [&] {
             shell.passwordAnswers.push_back("new password");
             changePassword(session);
         }},
        {"save", [&] { saveSafe(session); }},
    };
    for (const auto& [name, change] : changes) {
        SCOPED_TRACE(name);
        shell.clearRecords();
        change();
        EXPECT_EQ(shell.events.back(), ReadOnlyMessage);
        EXPECT_EQ(workingCopyBytes(), before);
        EXPECT_EQ(readFile(original), "must stay");
        EXPECT_FALSE(std::filesystem::exists(root / "safe.cx")) << "nothing may be written";
    }

    if (!state.entryDetails.empty()) {
        extractRows({0}, out);
        EXPECT_EQ(folderListing(out).size(), 1u) << "what could be read can be extracted";
    }

    // Closing asks nothing, writes nothing and leaves no plaintext behind.
    shell.clearRecords();
    EXPECT_TRUE(closeRequested(session, CloseEntry::CloseBox));
    EXPECT_EQ(shell.events, std::vector<std::string>{"destroy"});
    EXPECT_FALSE(std::filesystem::exists(root / "safe.cx"));
    EXPECT_EQ(folderListing(workDir), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Unclean, ReadOnlySession,
    ::testing::Values(Unclean{"another version", containerBytes({{"a.txt", "alpha"}}, 3)},
                      Unclean{"a row outside the file", containerWithABadRow()},
                      Unclean{"meaningless bytes", patternBytes(4096, 7)}),
    [](const auto& param) {
        std::string name = param.param.what;
        for (char& c : name)
            if (c == ' ')
                c = '_';
        return name;
    });

} // namespace
} // namespace quorvane::test
