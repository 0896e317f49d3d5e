// The descriptor owner and the guard of a file being made: whatever way a
// routine leaves, no descriptor stays open and no hidden file stays behind.

#include "storage/files/FreshFile.h"
#include "storage/files/UniqueFd.h"

#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace quorvane {
namespace {

bool isOpen(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

TEST(UniqueFd, ClosesOnceWhereverItsDescriptorEnds) {
    int raw = -1;
    {
        UniqueFd first(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        raw = first.get();
        ASSERT_TRUE(first);
        UniqueFd second = std::move(first);
        EXPECT_FALSE(first);
        EXPECT_EQ(second.get(), raw);
        EXPECT_TRUE(isOpen(raw));
    }
    EXPECT_FALSE(isOpen(raw));

    UniqueFd kept(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    const int released = kept.release();
    EXPECT_FALSE(kept);
    EXPECT_TRUE(isOpen(released));
    UniqueFd again(released);
    EXPECT_EQ(again.close(), 0);
    EXPECT_FALSE(isOpen(released));
    EXPECT_EQ(again.close(), 0) << "nothing is closed twice";
}

TEST(FolderListing, ListsFromTheStartEachTime) {
    test::TempFolder dir;
    dir.write("a", "1");
    const UniqueFd folder(::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (int pass = 0; pass < 2; ++pass) {
        int names = 0;
        const FolderListing listing = listFolder(folder.get());
        ASSERT_TRUE(listing);
        while (::readdir(listing.get()) != nullptr)
            ++names;
        EXPECT_EQ(names, 3) << "pass " << pass; // ".", ".." and "a"
    }
    EXPECT_FALSE(listFolder(-1));
}

std::string hiddenName() {
    static int counter = 0;
    return ".fresh-" + std::to_string(counter++);
}

struct FreshCase {
    const char* what;
    bool named;    // given a hidden name before the end
    bool renamed;  // put in place under "final"
    bool throwing; // left by an exception
};

TEST(FreshFile, LeavesNothingUnlessItTookItsPlace) {
    const FreshCase cases[] = {
        {"unnamed, abandoned", false, false, false},
        {"named, abandoned", true, false, false},
        {"named, left by an exception", true, false, true},
        {"renamed into place", true, true, false},
        {"renamed straight from no name", false, true, false},
    };
    for (const FreshCase& c : cases) {
        test::TempFolder dir;
        const UniqueFd folder(::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        try {
            FreshFile fresh(folder.get(), hiddenName);
            ASSERT_EQ(fresh.make(O_WRONLY), 0) << c.what;
            ASSERT_EQ(::write(fresh.fd(), "data", 4), 4);
            if (c.named) {
                ASSERT_EQ(fresh.nameHidden(), 0) << c.what;
                EXPECT_EQ(test::folderListing(dir.path()).size(), 1u) << c.what;
            }
            if (c.renamed) {
                ASSERT_EQ(fresh.renameTo("final"), 0) << c.what;
            }
            if (c.throwing)
                throw std::runtime_error("cut off");
        } catch (const std::runtime_error&) {
        }
        const auto expected =
            c.renamed ? std::vector<std::string>{"final"} : std::vector<std::string>{};
        EXPECT_EQ(test::folderListing(dir.path()), expected) << c.what;
        if (c.renamed) {
            EXPECT_EQ(test::readFile(dir / "final"), "data") << c.what;
        }
    }
}

TEST(FreshFile, NeverReplacesANameItMustNotAndThenGoesAway) {
    test::TempFolder dir;
    dir.write("taken", "theirs");
    const UniqueFd folder(::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    {
        FreshFile fresh(folder.get(), hiddenName);
        ASSERT_EQ(fresh.make(O_RDWR), 0);
        EXPECT_EQ(fresh.renameTo("taken", true), EEXIST);
    }
    EXPECT_EQ(test::folderListing(dir.path()), std::vector<std::string>{"taken"});
    EXPECT_EQ(test::readFile(dir / "taken"), "theirs");
}

} // namespace
} // namespace quorvane
