// The names under which entries show in the folder.

#include "mount/FolderNames.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

using Names = std::vector<std::optional<std::string>>;

TEST(FolderNames, EachEntryShowsUnderANameOfItsOwn) {
    const std::string long48(48, 'x');
    struct Case {
        const char* what;
        std::vector<std::string> stored;
        Names shown;
    };
    const std::vector<Case> cases = {
        {"distinct", {"a.txt", "b"}, {"a.txt", "b"}},
        {"twice", {"a.txt", "a.txt"}, {"a.txt", "a (2).txt"}},
        {"three times, no extension",
         {"notes", "notes", "notes"},
         {"notes", "notes (2)", "notes (3)"}},
        {"a numbered name that another entry has",
         {"a.txt", "a.txt", "a (2).txt"},
         {"a.txt", "a (2).txt", "a (2) (2).txt"}},
        {"a leading dot is no extension", {".profile", ".profile"}, {".profile", ".profile (2)"}},
        {"only the last extension", {"x.tar.gz", "x.tar.gz"}, {"x.tar.gz", "x.tar (2).gz"}},
        {"cut to 50 bytes",
         {long48 + ".c", long48 + ".c"},
         {long48 + ".c", std::string(44, 'x') + " (2).c"}},
        {"not a name in a folder",
         {"", ".", "..", "a/b", "ok"},
         {std::nullopt, std::nullopt, std::nullopt, std::nullopt, "ok"}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        EXPECT_EQ(folderNames(test.stored), test.shown);
    }
}

TEST(FolderNames, ACutNeverSplitsAUtf8Character) {
    // 47 bytes of 'e' then an 'é' (2 bytes): the cut for " (2)" falls into it.
    const std::string name = std::string(45, 'e') + "\xc3\xa9" + "\xc3\xa9";
    const std::string numbered = folderNumberedName(name, 2);
    EXPECT_LE(numbered.size(), FolderNameLimit);
    EXPECT_EQ(numbered, std::string(45, 'e') + " (2)");
}

TEST(FolderNames, ManyEntriesOfOneNameEachGetTheNextNumber) {
    const std::vector<std::string> stored(20'000, "IMG.JPG");
    const Names names = folderNames(stored);
    ASSERT_EQ(names.size(), stored.size());
    EXPECT_EQ(names[0], "IMG.JPG");
    EXPECT_EQ(names[1], "IMG (2).JPG");
    EXPECT_EQ(names.back(), "IMG (20000).JPG");
    // A numbered name an entry has as its own is passed over by the others.
    EXPECT_EQ(folderNames({"a", "a (2)", "a", "a"}), (Names{"a", "a (2)", "a (3)", "a (4)"}));
}

} // namespace
} // namespace quorvane
