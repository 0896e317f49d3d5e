// Loading the working copy's index and filling the list from it.

#include "lifecycle/EntryListing.h"
#include "tests/lifecycle/LifecycleFixture.h"

namespace quorvane::test {
namespace {

class EntryListingTest : public LifecycleTest {
  protected:
    void openWorkingCopyHolding(const std::string& container) {
        putWorkingCopy(state.workingCopy, workingCopyPath(state), container);
    }
};

TEST_F(EntryListingTest, NoSafeOpenEmptiesTheListAndSaysUnableToRead) {
    shell.rows = {{"0", "stale", "1 Bytes"}};
    refreshEntryList(state, shell);
    EXPECT_TRUE(shell.rows.empty());
    EXPECT_EQ(shell.messages,
              (std::vector<ShownMessage>{{"Unable to Read File!", "Error", MessageIcon::Error}}));
}

TEST_F(EntryListingTest, EmptyContainerListsNothingAndSaysNothing) {
    openWorkingCopyHolding(emptyContainerBytes());
    shell.rows = {{"0", "stale", "1 Bytes"}};
    refreshEntryList(state, shell);
    EXPECT_TRUE(shell.rows.empty());
    EXPECT_TRUE(shell.messages.empty());
    EXPECT_EQ(state.entryCount, 0u);
    EXPECT_EQ(state.formatVersion, 2u);
    EXPECT_EQ(state.indexOffset, 12u);
    EXPECT_EQ(state.workingCopyLength, 16u);
}

TEST_F(EntryListingTest, RowsShowNumberNameAndSizeInIndexOrder) {
    const std::string fifty(50, 'n');
    openWorkingCopyHolding(containerBytes(
        {{"a.txt", "hello"}, {fifty + "cut", "x"}, {"empty-named", std::string(513, 'z')}}));
    refreshEntryList(state, shell);
    EXPECT_EQ(shell.rows, (std::vector<ListRow>{{"0", "a.txt", "5 Bytes"},
                                                {"1", fifty, "1 Bytes"},
                                                {"2", "empty-named", "513 Bytes"}}));
    EXPECT_TRUE(shell.messages.empty());
    ASSERT_EQ(state.indexRows.size(), 3u);
    EXPECT_EQ(state.indexRows[1].entryOffset, 12u + 58u + 5u);
}

TEST_F(EntryListingTest, RefreshReplacesEveryEarlierRow) {
    openWorkingCopyHolding(containerBytes({{"one", "1"}, {"two", "22"}}));
    refreshEntryList(state, shell);
    ASSERT_EQ(shell.rows.size(), 2u);
    state.workingCopy.reset();
    openWorkingCopyHolding(containerBytes({{"three", "333"}}));
    refreshEntryList(state, shell);
    EXPECT_EQ(shell.rows, (std::vector<ListRow>{{"0", "three", "3 Bytes"}}));
}

// Sizes are unsigned: from 2 GiB up they must not read negative (a record
// that size cannot be listed here without a 4 GiB working copy).
TEST(SizeText, SizesOfTwoGiBAndMoreShowAsTheUnsignedNumberTheyAre) {
    const std::pair<std::uint32_t, const char*> cases[] = {{0u, "0 Bytes"},
                                                           {0x7FFFFFFFu, "2147483647 Bytes"},
                                                           {0x80000000u, "2147483648 Bytes"},
                                                           {4294967216u, "4294967216 Bytes"},
                                                           {0xFFFFFFFFu, "4294967295 Bytes"}};
    for (const auto& [size, shown] : cases)
        EXPECT_EQ(sizeText(size), shown);
}

class WrongVersionTest : public EntryListingTest,
                         public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(WrongVersionTest, SaysIncompattibleAndListsTheEntriesAllTheSame) {
    openWorkingCopyHolding(containerBytes({{"kept.bin", "abc"}}, GetParam()));
    refreshEntryList(state, shell);
    EXPECT_EQ(shell.messages,
              (std::vector<ShownMessage>{{"Incompattible file", "Error", MessageIcon::Error}}));
    EXPECT_EQ(shell.rows, (std::vector<ListRow>{{"0", "kept.bin", "3 Bytes"}}));
    EXPECT_EQ(state.formatVersion, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Versions, WrongVersionTest, ::testing::Values(0u, 1u, 3u, 0xFFFFFFFFu));

// The kinds of damage are the storage tests' table; here: the list shows only
// the rows that lie inside the file.
TEST_F(EntryListingTest, DamagedContainerListsOnlyRowsThatLieInsideTheFile) {
    std::string farOffset = containerBytes({{"first", "11111"}, {"second", "22"}});
    farOffset[farOffset.size() - 1] = '\x7F'; // the second row points far beyond the end
    std::string hugeCount = containerBytes({{"first", "11111"}});
    hugeCount.replace(0, 4, le32(0x7FFFFFFF));
    for (const std::string& container : {farOffset, hugeCount}) {
        SCOPED_TRACE(container.size());
        if (state.workingCopy)
            state.workingCopy.reset();
        openWorkingCopyHolding(container);
        refreshEntryList(state, shell);
        EXPECT_EQ(shell.rows, (std::vector<ListRow>{{"0", "first", "5 Bytes"}}));
    }
}

} // namespace
} // namespace quorvane::test
