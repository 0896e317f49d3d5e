// The folder's rules without the kernel: each request as the serving loop
// hands it to SafeFolder, on an open safe of the entry suites.

#include "mount/FolderNames.h"
#include "mount/SafeFolder.h"
#include "storage/format/ContainerIndex.h"
#include "tests/entries/EntriesFixture.h"
#include "tests/support/SafeBytes.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>

namespace quorvane::test {
namespace {

// The container's changes, each able to fail on demand with a chosen errno.
class FaultyAccess : public SafeAccess {
  public:
    using SafeAccess::SafeAccess;
    int failRemove = 0;
    int store(StagedFile& staged, const std::string& name) override {
        ++stores;
        return SafeAccess::store(staged, name);
    }
    int remove(std::size_t row) override {
        return failRemove != 0 ? -failRemove : SafeAccess::remove(row);
    }
    int stores = 0;
};

class SafeFolderRules : public EntriesTest {
  protected:
    void SetUp() override {
        EntriesTest::SetUp();
        openContainer(containerBytes({{"a.txt", "alpha"}, {"b.txt", "bravo"}}));
    }

    SafeFolder& folder(bool readOnly = false) {
        if (!folder_)
            folder_ = std::make_unique<SafeFolder>(access, readOnly);
        return *folder_;
    }

    // open, write, release as a program's open, write and close; 0 or -errno.
    int put(const std::string& name, const std::string& bytes, int flags = O_TRUNC) {
        SafeFolder::Handle* handle = nullptr;
        if (const int opened = folder().open(name, O_WRONLY | flags, true, handle); opened < 0)
            return opened;
        const std::int64_t written = folder().write(*handle, 0, bytes.data(), bytes.size());
        folder().release(handle);
        return written < 0 ? static_cast<int>(written) : 0;
    }

    std::string readAll(SafeFolder::Handle& handle) {
        std::string bytes(1 << 16, '\0');
        const std::int64_t got = folder().read(handle, 0, bytes.data(), bytes.size());
        bytes.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
        return bytes;
    }

    std::string content(const std::string& name) {
        SafeFolder::Handle* handle = nullptr;
        if (folder().open(name, O_RDONLY, false, handle) < 0)
            return "<missing>";
        std::string bytes = readAll(*handle);
        folder().release(handle);
        return bytes;
    }

    // name=content of every stored entry, in their order.
    std::string stored() {
        std::string all;
        for (std::size_t row = 0; row < state.entryDetails.size(); ++row) {
            const std::string name = state.entryDetails[row].name;
            all += name + "=" + content(name) + ";";
        }
        return all;
    }

    FaultyAccess access{state};
    std::unique_ptr<SafeFolder> folder_;
};

TEST_F(SafeFolderRules, AnOpenWithTruncateAndItsReleaseStoreTheFile) {
    SafeFolder::Handle* handle = nullptr;
    ASSERT_EQ(folder().open("a.txt", O_WRONLY | O_TRUNC, false, handle), 0);
    EXPECT_EQ(state.entryDetails[0].size, 5u) << "stored only at the release";
    folder().release(handle);
    EXPECT_EQ(stored(), "b.txt=bravo;a.txt=;");
    EXPECT_EQ(put("a.txt", "again"), 0);
    EXPECT_EQ(stored(), "b.txt=bravo;a.txt=again;");
    EXPECT_TRUE(folder().changed());
}

// Saving through a name changes the entry it stands for, and no other, even
// where another entry has the same stored name.
TEST_F(SafeFolderRules, ANameStandsForOneEntryAsItIsSaved) {
    openContainer(containerBytes({{"report.txt", "first"}, {"report.txt", "second"}}));
    EXPECT_EQ(folder().names(), (std::vector<std::string>{"report.txt", "report (2).txt"}));
    EXPECT_EQ(put("report.txt", "first, edited"), 0);
    EXPECT_EQ(content("report.txt"), "first, edited");
    EXPECT_EQ(content("report (2).txt"), "second");
    EXPECT_EQ(put("report (2).txt", "second, edited"), 0);
    EXPECT_EQ(content("report.txt"), "first, edited");
    EXPECT_EQ(content("report (2).txt"), "second, edited");
    ASSERT_EQ(state.entryDetails.size(), 2u);
    EXPECT_EQ(state.entryDetails[0].name, "report.txt") << "the stored name stays";
    EXPECT_EQ(state.entryDetails[1].name, "report.txt");
    EXPECT_EQ(folder().shownNameOf(0), "report.txt");
    EXPECT_EQ(folder().shownNameOf(1), "report (2).txt");
}

TEST_F(SafeFolderRules, ARenameOverANameKeepsTheOldEntryWhenRemovingItFails) {
    access.failRemove = EIO;
    EXPECT_EQ(folder().rename("a.txt", "b.txt", 0), -EIO);
    EXPECT_EQ(stored(), "a.txt=alpha;b.txt=bravo;") << "nothing changed";
    access.failRemove = 0;
    EXPECT_EQ(folder().rename("a.txt", "b.txt", 0), 0);
    EXPECT_EQ(stored(), "b.txt=alpha;");
}

TEST_F(SafeFolderRules, AFileDeletedWhileOpenIsStillReadAndNeverStored) {
    SafeFolder::Handle* reader = nullptr;
    SafeFolder::Handle* writer = nullptr;
    ASSERT_EQ(folder().open("a.txt", O_RDONLY, false, reader), 0);
    ASSERT_EQ(folder().open("new.txt", O_WRONLY | O_CREAT, true, writer), 0);
    EXPECT_EQ(folder().unlink("a.txt"), 0);
    EXPECT_EQ(folder().unlink("new.txt"), 0);
    EXPECT_EQ(readAll(*reader), "alpha") << "the reader keeps its bytes";
    EXPECT_EQ(folder().write(*writer, 0, "late", 4), 4);
    folder().release(reader);
    folder().release(writer);
    EXPECT_EQ(stored(), "b.txt=bravo;");
    EXPECT_EQ(folder().names(), std::vector<std::string>{"b.txt"});
}

TEST_F(SafeFolderRules, ATruncateByNameIsStoredAtOnce) {
    EXPECT_EQ(folder().truncate("a.txt", nullptr, 2), 0);
    EXPECT_EQ(stored(), "b.txt=bravo;a.txt=al;");
    EXPECT_EQ(folder().truncate("b.txt", nullptr, 7), 0);
    EXPECT_EQ(stored(), "a.txt=al;b.txt=bravo" + std::string(2, '\0') + ";");
    EXPECT_EQ(folder().truncate("none", nullptr, 0), -ENOENT);
}

TEST_F(SafeFolderRules, RefusalsComeWithTheirErrno) {
    const std::string longName(FolderNameLimit + 1, 'n');
    struct Case {
        const char* what;
        bool readOnly;
        std::function<int(SafeFolder&)> attempt;
        int expected;
    };
    const std::vector<Case> cases = {
        {"write, read-only", true,
         [](SafeFolder& f) {
             SafeFolder::Handle* h = nullptr;
             return f.open("a.txt", O_WRONLY, false, h);
         },
         -EROFS},
        {"create, read-only", true,
         [](SafeFolder& f) {
             SafeFolder::Handle* h = nullptr;
             return f.open("c", O_WRONLY | O_CREAT, true, h);
         },
         -EROFS},
        {"delete, read-only", true, [](SafeFolder& f) { return f.unlink("a.txt"); }, -EROFS},
        {"rename, read-only", true, [](SafeFolder& f) { return f.rename("a.txt", "c", 0); },
         -EROFS},
        {"truncate, read-only", true, [](SafeFolder& f) { return f.truncate("a.txt", nullptr, 0); },
         -EROFS},
        {"a long name", false,
         [&](SafeFolder& f) {
             SafeFolder::Handle* h = nullptr;
             return f.open(longName, O_WRONLY | O_CREAT, true, h);
         },
         -ENAMETOOLONG},
        {"renamed to a long name", false,
         [&](SafeFolder& f) { return f.rename("a.txt", longName, 0); }, -ENAMETOOLONG},
        {"truncated past the container's limit", false,
         [](SafeFolder& f) { return f.truncate("a.txt", nullptr, ContainerLimit); }, -EFBIG},
        {"written past the container's limit", false,
         [](SafeFolder& f) {
             SafeFolder::Handle* h = nullptr;
             f.open("a.txt", O_WRONLY, false, h);
             const auto written = f.write(*h, ContainerLimit, "x", 1);
             f.release(h);
             return static_cast<int>(written);
         },
         -EFBIG},
        {"renamed onto an existing name, not replacing", false,
         [](SafeFolder& f) { return f.rename("a.txt", "b.txt", RENAME_NOREPLACE); }, -EEXIST},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        folder_.reset();
        EXPECT_EQ(test.attempt(folder(test.readOnly)), test.expected);
        EXPECT_EQ(stored(), "a.txt=alpha;b.txt=bravo;") << "the refusal changed nothing";
    }
}

TEST_F(SafeFolderRules, AFileThatCouldNotBeStoredIsKeptAndTriedAgain) {
    const std::string bytes = patternBytes(200'000, 4);
    SafeFolder::Handle* handle = nullptr;
    ASSERT_EQ(folder().open("a.txt", O_WRONLY | O_TRUNC, false, handle), 0);
    ASSERT_EQ(folder().write(*handle, 0, bytes.data(), bytes.size()), 200'000);
    {
        // The working copy cannot grow: as a full disk.
        const FileSizeLimit full(std::filesystem::file_size(workingCopyPath(state)));
        folder().release(handle);
    }
    EXPECT_EQ(folder().takeStoreFailures(),
              (std::vector<std::pair<std::string, int>>{{"a.txt", EFBIG}}));
    EXPECT_EQ(state.entryDetails.size(), 2u);
    EXPECT_EQ(content("a.txt"), bytes.substr(0, 1 << 16)) << "the folder still shows it";
    const int storesBefore = access.stores;
    EXPECT_EQ(folder().storeClosedFiles(), 0);
    EXPECT_EQ(access.stores, storesBefore + 1);
    EXPECT_TRUE(folder().takeStoreFailures().empty());
    ASSERT_EQ(state.entryDetails.size(), 2u);
    EXPECT_EQ(state.entryDetails[1].name, "a.txt");
    EXPECT_EQ(state.entryDetails[1].size, 200'000u);
    EXPECT_EQ(folder().storeClosedFiles(), 0);
    EXPECT_EQ(access.stores, storesBefore + 1) << "stored once only";
}

} // namespace
} // namespace quorvane::test
