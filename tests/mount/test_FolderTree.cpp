// The folder's rules over a safe that keeps a tree, without the kernel: paths
// as names, folders, a file written into a folder that is renamed while it
// is open, and the window's change of the tree seen at the next request.

#include "lifecycle/SafeFileWriting.h"
#include "mount/SafeFolder.h"
#include "storage/format/SafeContents.h"
#include "tests/entries/EntriesFixture.h"
#include "tests/support/SafeBytes.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <functional>

namespace quorvane::test {
namespace {

using Names = std::vector<std::string>;

class FolderTree : public EntriesTest {
  protected:
    void SetUp() override {
        EntriesTest::SetUp();
        openContainer(containerBytes({{"a.txt", "alpha"}}));
        const WriteResult sealed = writeAsVault(session, "Sealing");
        ASSERT_TRUE(sealed.written()) << sealed.failure->detail;
        ASSERT_TRUE(contentsOf(state).keepsTree());
    }

    std::string content(const std::string& name) {
        SafeFolder::Handle* handle = nullptr;
        if (folder.open(name, O_RDONLY, false, handle) < 0)
            return "<missing>";
        std::string bytes(1024, '\0');
        const std::int64_t got = folder.read(*handle, 0, bytes.data(), bytes.size());
        folder.release(handle);
        bytes.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
        return bytes;
    }

    SafeAccess access{state};
    SafeFolder folder{access, false};
};

TEST_F(FolderTree, AFileWrittenIntoAFolderRenamedWhileOpenLandsThere) {
    ASSERT_EQ(folder.makeFolder("docs", 0700), 0);
    EXPECT_EQ(folder.makeFolder("docs", 0700), -EEXIST);
    EXPECT_EQ(folder.makeFolder("missing/inner", 0700), -ENOENT);
    SafeFolder::Handle* handle = nullptr;
    ASSERT_EQ(folder.open("docs/" + std::string(255, 'n'), O_WRONLY, true, handle), 0);
    EXPECT_EQ(folder.write(*handle, 0, "long", 4), 4);
    EXPECT_EQ(folder.namesIn("docs"), Names{std::string(255, 'n')});
    EXPECT_EQ(folder.rename("docs", "papers", 0), 0);
    folder.release(handle);
    EXPECT_EQ(folder.namesIn(""), (Names{"a.txt", "papers"}));
    EXPECT_EQ(content("papers/" + std::string(255, 'n')), "long");
    EXPECT_EQ(folder.removeFolder("papers"), -ENOTEMPTY);
    EXPECT_EQ(folder.unlink("papers/" + std::string(255, 'n')), 0);
    EXPECT_EQ(folder.removeFolder("papers"), 0);
    EXPECT_EQ(folder.namesIn(""), Names{"a.txt"});
    SafeFolder::Handle* tooLong = nullptr;
    EXPECT_EQ(folder.open(std::string(256, 'n'), O_WRONLY, true, tooLong), -ENAMETOOLONG);
}

// A time set on a file before it is stored (cp -p sets it on the open file)
// is the time of its entry.
TEST_F(FolderTree, ATimeSetBeforeTheStoreIsTheEntrysTime) {
    SafeFolder::Handle* handle = nullptr;
    ASSERT_EQ(folder.open("new.txt", O_WRONLY, true, handle), 0);
    EXPECT_EQ(folder.write(*handle, 0, "new", 3), 3);
    EXPECT_EQ(folder.setStamp("new.txt", handle, std::pair<std::time_t, long>{1'600'000'000, 42},
                              std::nullopt),
              0);
    folder.release(handle);
    const auto stored = contentsOf(state).entry(state, "new.txt");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->stamp.modifiedSeconds, 1'600'000'000);
    EXPECT_EQ(stored->stamp.modifiedNanoseconds, 42u);
    SafeFolder::Status status;
    ASSERT_EQ(folder.status("new.txt", status), 0);
    EXPECT_EQ(status.modified, 1'600'000'000);
}

// A folder's stored time moves when a name in it comes or goes, and only
// then; the top's is set as asked and kept while mounted. While the window
// holds the entries, a new file still comes and its folder keeps its time.
TEST_F(FolderTree, AFoldersTimeMovesWithItsNames) {
    constexpr std::time_t Old = 1'500'000'000;
    ASSERT_EQ(folder.makeFolder("docs", 0700), 0);
    ASSERT_EQ(folder.makeFolder("other", 0700), 0);
    const auto timeOf = [&](const std::string& path) {
        SafeFolder::Status status;
        folder.status(path, status);
        return status.modified;
    };
    const auto age = [&](const std::string& path) {
        ASSERT_EQ(
            folder.setStamp(path, nullptr, std::pair<std::time_t, long>{Old, 0}, std::nullopt), 0);
    };
    const auto create = [&](const std::string& path) {
        SafeFolder::Handle* handle = nullptr;
        const int opened = folder.open(path, O_WRONLY, true, handle);
        if (opened == 0)
            folder.release(handle);
        return opened;
    };
    const struct {
        const char* what;
        std::function<int()> step;
        std::vector<std::string> moved; // of docs, other and "" (the top)
    } steps[] = {
        {"a file created", [&] { return create("docs/a"); }, {"docs"}},
        {"a file written again", [&] { return folder.truncate("docs/a", nullptr, 1); }, {}},
        {"a file renamed within", [&] { return folder.rename("docs/a", "docs/b", 0); }, {"docs"}},
        {"a file moved out",
         [&] { return folder.rename("docs/b", "other/b", 0); },
         {"docs", "other"}},
        {"a file removed", [&] { return folder.unlink("other/b"); }, {"other"}},
        {"a folder made", [&] { return folder.makeFolder("docs/inner", 0700); }, {"docs"}},
        {"a folder moved to the top",
         [&] { return folder.rename("docs/inner", "inner", 0); },
         {"docs", ""}},
        {"a folder removed", [&] { return folder.removeFolder("inner"); }, {""}},
        {"a file created while the window holds the entries",
         [&] {
             folder.holdEntries(true);
             const int created = create("docs/held");
             folder.holdEntries(false);
             return created;
         },
         {}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        for (const char* path : {"docs", "other", ""})
            age(path);
        EXPECT_EQ(step.step(), 0);
        for (const char* path : {"docs", "other"}) {
            const bool moved = std::count(step.moved.begin(), step.moved.end(), path) > 0;
            EXPECT_EQ(timeOf(path) != Old, moved) << path;
            const auto stored = contentsOf(state).entry(state, path);
            ASSERT_TRUE(stored.has_value());
            EXPECT_EQ(stored->stamp.modifiedSeconds != Old, moved) << path << " in the safe";
        }
        EXPECT_EQ(folder.topModified().tv_sec != Old,
                  std::count(step.moved.begin(), step.moved.end(), "") > 0);
    }
    // The top's time before 1970 keeps its nanoseconds in range.
    ASSERT_EQ(folder.setStamp("", nullptr, std::pair<std::time_t, long>{-2, 250}, std::nullopt), 0);
    EXPECT_EQ(folder.topModified().tv_sec, -2);
    EXPECT_EQ(folder.topModified().tv_nsec, 250);
}

// The window renames an entry (the count stays) and says so: the next
// request sees the new name, not the one the folder knew.
TEST_F(FolderTree, TheWindowsChangeIsSeenAtTheNextRequest) {
    EXPECT_EQ(folder.namesIn(""), Names{"a.txt"});
    EXPECT_EQ(content("a.txt"), "alpha");
    ASSERT_TRUE(contentsOf(state).moveEntry(state, "a.txt", "b.txt", OnExisting::Refuse));
    folder.namesChangedOutside();
    EXPECT_EQ(folder.namesIn(""), Names{"b.txt"});
    EXPECT_EQ(content("b.txt"), "alpha");
    EXPECT_EQ(content("a.txt"), "<missing>");
}

// The names are kept across the folder's own stores rather than worked out
// anew: after each, the folder shows what a folder made afresh shows.
TEST_F(FolderTree, NamesKeptAcrossStoresAreTheNamesAFreshFolderShows) {
    ASSERT_EQ(folder.makeFolder("docs", 0700), 0);
    for (const std::string name : {"docs/one.txt", "two.txt", "docs/one.txt", "docs/three.txt"}) {
        SafeFolder::Handle* handle = nullptr;
        ASSERT_EQ(folder.open(name, O_WRONLY | O_TRUNC, true, handle), 0) << name;
        EXPECT_EQ(folder.write(*handle, 0, name.data(), name.size()),
                  static_cast<std::int64_t>(name.size()));
        folder.release(handle);
        SafeFolder fresh{access, false};
        for (const std::string shownIn : {"", "docs"})
            EXPECT_EQ(folder.namesIn(shownIn), fresh.namesIn(shownIn)) << name << " in " << shownIn;
        EXPECT_EQ(content(name), name);
    }
    EXPECT_EQ(folder.namesIn("docs"), (Names{"one.txt", "three.txt"}));
}

} // namespace
} // namespace quorvane::test
