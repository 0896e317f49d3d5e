// The private working directory and the files made in it.

#include "storage/files/WorkingDirectory.h"
#include "tests/lifecycle/LifecycleFixture.h"

#include <sys/stat.h>

namespace quorvane::test {
namespace {

unsigned modeOf(const std::filesystem::path& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0)
        return 0;
    return status.st_mode & 07777;
}

TEST(WorkingDirectoryTest, IsPrivateUnderTheTemporaryDirectoryAndGoesAwayWithItsFiles) {
    std::filesystem::path seen;
    {
        WorkingDirectory directory;
        seen = directory.path();
        EXPECT_TRUE(std::filesystem::is_directory(seen));
        EXPECT_EQ(seen.parent_path(), std::filesystem::temp_directory_path());
        EXPECT_EQ(modeOf(seen), 0700u);
        writeFile(seen / "temp2", "plaintext");
        std::filesystem::create_directory(seen / "nested");
        writeFile(seen / "nested" / "x", "y");
    }
    EXPECT_FALSE(std::filesystem::exists(seen));
}

// Where others may rename what is in the temporary directory, a folder
// swapped in under our name must neither get our plaintext nor give us its
// files, and must not be removed in our place.
TEST(WorkingDirectoryTest, FilesAreReachedThroughTheFolderMadeNotThroughItsName) {
    std::filesystem::path aside;
    std::filesystem::path name;
    {
        WorkingDirectory directory;
        name = directory.path();
        aside = name.string() + "-moved";
        writeFile(directory.anchored() / "temp2", "ours");
        std::filesystem::rename(name, aside);
        std::filesystem::create_directory(name);
        writeFile(name / "temp2", "theirs");
        EXPECT_EQ(readFile(directory.anchored() / "temp2"), "ours");
        writeFile(directory.anchored() / "temp2", "ours again");
    }
    EXPECT_EQ(readFile(name / "temp2"), "theirs");
    EXPECT_EQ(folderListing(aside), std::vector<std::string>{}) << "our files are gone";
    std::filesystem::remove_all(name);
    std::filesystem::remove_all(aside);
}

TEST(WorkingDirectoryTest, EveryProcessPartGetsADirectoryOfItsOwn) {
    WorkingDirectory first;
    WorkingDirectory second;
    EXPECT_NE(first.path(), second.path());
}

class PrivateFileTest : public LifecycleTest {};

TEST_F(PrivateFileTest, WorkingFilesLiveInTheWorkingDirectory) {
    EXPECT_EQ(workingCopyPath(state), workDir / "temp2");
}

TEST_F(PrivateFileTest, DiscardClosesTheStreamAndRemovesTheWorkingCopy) {
    putWorkingCopy(state.workingCopy, workingCopyPath(state), emptyContainerBytes());
    ASSERT_TRUE(isSafeOpen(state));
    discardWorkingCopy(state);
    EXPECT_FALSE(isSafeOpen(state));
    EXPECT_FALSE(std::filesystem::exists(workingCopyPath(state)));
    discardWorkingCopy(state); // nothing open: harmless
    EXPECT_FALSE(isSafeOpen(state));
}

} // namespace
} // namespace quorvane::test
