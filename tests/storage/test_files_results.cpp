#include "storage/files/ExtractedFile.h"
#include "storage/files/OriginalErase.h"

#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <stdexcept>
#include <unistd.h>

namespace quorvane::test {
namespace {

// What the files layer reports for each way an extracted file can go, and
// what it leaves in the folder: the words are the layer above's.
struct PlacementCase {
    const char* label;
    std::string name;
    bool sourceReadable;
    Placement outcome;
    int error;
    std::vector<std::string> folderAfter;
};

TEST(ExtractedFile, ReportsEachOutcomeAndLeavesNoFreshFileBehind) {
    const std::vector<PlacementCase> cases = {
        {"written", "new.txt", true, Placement::Placed, 0, {"dir", "new.txt", "safe.cx"}},
        {"not a plain name", "../x", true, Placement::NameNotPlain, 0, {"dir", "safe.cx"}},
        {"a folder there", "dir", true, Placement::NotPlainFile, 0, {"dir", "safe.cx"}},
        {"the open safe", "safe.cx", true, Placement::IsOpenSafe, 0, {"dir", "safe.cx"}},
        {"source unreadable", "new.txt", false, Placement::SourceUnreadable, 0, {"dir", "safe.cx"}},
    };
    for (const PlacementCase& c : cases) {
        TempFolder out;
        std::filesystem::create_directory(out / "dir");
        const auto safe = out.write("safe.cx", "the safe");
        ExtractFolder folder(out.path().string(), safe.string());
        const PlacementResult result = placeExtractedFile(folder, c.name, [&](std::ostream& file) {
            file << "entry";
            return c.sourceReadable;
        });
        EXPECT_EQ(result.outcome, c.outcome) << c.label;
        EXPECT_EQ(result.error, c.error) << c.label;
        EXPECT_EQ(folderListing(out.path()), c.folderAfter) << c.label;
        EXPECT_EQ(readFile(safe), "the safe") << c.label;
    }
}

TEST(ExtractedFile, AMissingFolderFailsWithTheSystemsReason) {
    TempFolder out;
    ExtractFolder folder((out / "gone").string(), "");
    const PlacementResult result =
        placeExtractedFile(folder, "a", [](std::ostream&) { return true; });
    EXPECT_EQ(result.outcome, Placement::Failed);
    EXPECT_EQ(result.error, ENOENT);
}

TEST(ExtractedFile, ASecondFileOfTheSameNameGoesUnderANumberedName) {
    TempFolder out;
    ExtractFolder folder(out.path().string(), "");
    const auto writing = [](const char* text) {
        return [text](std::ostream& file) { return static_cast<bool>(file << text); };
    };
    EXPECT_EQ(placeExtractedFile(folder, "a.txt", writing("first")).placedAs, "");
    const PlacementResult second = placeExtractedFile(folder, "a.txt", writing("second"));
    EXPECT_EQ(second.outcome, Placement::Placed);
    EXPECT_EQ(second.placedAs, "a (2).txt");
    EXPECT_EQ(readFile(out / "a.txt"), "first");
    EXPECT_EQ(readFile(out / "a (2).txt"), "second");
    EXPECT_THROW(placeExtractedFile(folder, "b.txt",
                                    [](std::ostream&) -> bool { throw std::runtime_error("x"); }),
                 std::runtime_error);
    EXPECT_EQ(folderListing(out.path()), (std::vector<std::string>{"a (2).txt", "a.txt"}));
}

// Which originals may be erased, judged against the snapshot taken before
// they were stored; an Opened one is then overwritten and unlinked.
TEST(OriginalErase, OpensOnlyTheUnchangedFileOfTheSnapshot) {
    struct Case {
        const char* label;
        std::function<void(const TempFolder&)> change; // after the snapshot
        bool link;
        OriginalCheck outcome;
    };
    const std::vector<Case> cases = {
        {"unchanged", [](const TempFolder&) {}, false, OriginalCheck::Opened},
        {"a link", [](const TempFolder&) {}, true, OriginalCheck::IsLink},
        {"replaced",
         [](const TempFolder& d) { std::filesystem::rename(d.write("g", "other!"), d / "f"); },
         false, OriginalCheck::Changed},
        {"gone", [](const TempFolder& d) { std::filesystem::remove(d / "f"); }, false,
         OriginalCheck::Changed},
        {"another name",
         [](const TempFolder& d) { ASSERT_EQ(::link((d / "f").c_str(), (d / "g").c_str()), 0); },
         false, OriginalCheck::HasOtherNames},
    };
    for (const Case& c : cases) {
        TempFolder dir;
        dir.write("target", "stays");
        dir.write("f", "secret");
        if (c.link)
            std::filesystem::create_symlink(dir / "target", dir / "link");
        const std::string path = (dir / (c.link ? "link" : "f")).string();
        const SourceSnapshot before = takeSourceSnapshot(path);
        c.change(dir);
        OriginalToErase original;
        EXPECT_EQ(openOriginalToErase(path, before, 6, original).outcome, c.outcome) << c.label;
        EXPECT_EQ(readFile(dir / "target"), "stays") << c.label;
        if (c.outcome != OriginalCheck::Opened)
            continue;
        const OriginalEraseResult erasing = eraseAndUnlink(original);
        EXPECT_EQ(erasing.outcome, OriginalErase::Erased);
        EXPECT_TRUE(erasing.deleted);
        EXPECT_FALSE(std::filesystem::exists(path));
    }
}

TEST(OriginalErase, KeepsANameThatNowStandsForAnotherFile) {
    TempFolder dir;
    const auto path = dir.write("f", "secret");
    const SourceSnapshot before = takeSourceSnapshot(path.string());
    OriginalToErase original;
    ASSERT_EQ(openOriginalToErase(path.string(), before, 6, original).outcome,
              OriginalCheck::Opened);
    std::filesystem::rename(dir.write("new", "someone else's"), path);
    EXPECT_EQ(eraseAndUnlink(original).outcome, OriginalErase::NameNowAnotherFile);
    EXPECT_EQ(readFile(path), "someone else's");
}

} // namespace
} // namespace quorvane::test
