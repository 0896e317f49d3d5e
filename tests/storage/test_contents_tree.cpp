// The contents interface spoken to by path: a vault keeps folders, long
// names and stamps (across a commit and a fresh open), moves and removes
// folders whole and keeps its rows in step; a plain container keeps its flat
// list and refuses folders and stamps with EPERM.

#include "storage/format/PlainContents.h"
#include "storage/format/sealed/VaultContents.h"

#include "tests/storage/VaultKit.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using namespace test::vaultkit;

const EntryStamp Stamp{1700000000, 123456789, 0640};

class ContentsTreeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        createVault(safe);
        reopen();
    }

    void reopen() {
        contents.reset();
        contents = std::make_unique<VaultContents>(openVault(safe));
        tree().list(index);
    }

    AppendResult add(SafeContents& into, const std::string& path, const std::string& content,
                     OnExisting existing = OnExisting::Refuse, EntryStamp stamp = Stamp) {
        const fs::path source = folder / "source";
        test::writeFile(source, content);
        int error = 0;
        auto file = PlainFile::open(source, O_RDONLY, error);
        return into.addEntry(index, *file, path, content.size(), stamp, existing);
    }

    std::string contentAt(const std::string& path) {
        std::ostringstream out;
        EXPECT_TRUE(tree().extractEntry(index, path, out)) << path;
        return out.str();
    }

    // Every path, a folder's with "/" appended.
    std::vector<std::string> paths() {
        std::vector<std::string> all;
        for (const ContentEntry& entry : tree().entries(index))
            all.push_back(entry.path + (entry.kind == ContentKind::Folder ? "/" : ""));
        return all;
    }

    std::vector<std::string> rowNames() const {
        std::vector<std::string> names;
        for (const EntryDetail& detail : index.entryDetails)
            names.push_back(detail.name);
        return names;
    }

    void makeTree() {
        for (const char* path : {"Taxes", "Taxes/2025", "Photos"})
            ASSERT_TRUE(tree().makeFolder(index, path, Stamp)) << path;
        ASSERT_EQ(add(*contents, "Taxes/2025/return.pdf", "pdf"), AppendResult::Appended);
        ASSERT_EQ(add(*contents, "Taxes/notes.txt", "notes"), AppendResult::Appended);
        ASSERT_EQ(add(*contents, "Photos/IMG_0001.JPG", "jpg"), AppendResult::Appended);
    }

    // Through the interface, as every caller speaks to it.
    SafeContents& tree() { return *contents; }
    vault::StepResult vaultCommit() { return contents->commit(); }

    test::TempFolder folder;
    fs::path safe = folder / "box.cx";
    ContainerIndex index;
    std::unique_ptr<VaultContents> contents;
};

TEST_F(ContentsTreeTest, PathsAreCheckedByPartAndByFolder) {
    makeTree();
    const std::string part(NamePartMost, 'n');
    struct Case {
        std::string path;
        int error; // 0: taken
    } const cases[] = {
        {"Taxes/" + part, 0},
        {"Taxes/" + part + "x", ENAMETOOLONG},
        {"Taxes//a", EINVAL},
        {"Taxes/./a", EINVAL},
        {"..", EINVAL},
        {"/Taxes", EINVAL},
        {"Taxes/", EINVAL},
        {"tab\there", EINVAL},
        {"bad \xc3(", EINVAL},
        {"Missing/a", ENOENT},
        {"Taxes/notes.txt/a", ENOENT},
        {"Taxes/2025", EEXIST},
        {"Gr\xc3\xbc\xc3\x9f"
         "e/\xe4\xba\xac\xe9\x83\xbd",
         ENOENT},
    };
    for (const Case& c : cases) {
        const bool made = tree().makeFolder(index, c.path, Stamp);
        EXPECT_EQ(made, c.error == 0) << c.path;
        if (c.error != 0) {
            EXPECT_EQ(tree().lastError(), c.error) << c.path;
        }
    }
    EXPECT_TRUE(tree().entry(index, "Taxes/" + part).has_value());
    EXPECT_EQ(add(*contents, "Taxes/2025", "x"), AppendResult::WriteFailed);
    EXPECT_EQ(tree().lastError(), EISDIR);
}

TEST_F(ContentsTreeTest, MovesTakeAFolderWholeAndRefuseWhatPosixRefuses) {
    makeTree();
    ASSERT_TRUE(tree().makeFolder(index, "Archive", Stamp));
    ASSERT_TRUE(tree().moveEntry(index, "Taxes", "Archive/Taxes", OnExisting::Refuse));
    EXPECT_EQ(paths(),
              (std::vector<std::string>{"Archive/", "Archive/Taxes/", "Archive/Taxes/2025/",
                                        "Archive/Taxes/2025/return.pdf", "Archive/Taxes/notes.txt",
                                        "Photos/", "Photos/IMG_0001.JPG"}));
    EXPECT_EQ(rowNames(),
              (std::vector<std::string>{"Archive/Taxes/2025/return.pdf", "Archive/Taxes/notes.txt",
                                        "Photos/IMG_0001.JPG"}));
    EXPECT_EQ(contentAt("Archive/Taxes/2025/return.pdf"), "pdf");

    ASSERT_TRUE(tree().makeFolder(index, "Empty", Stamp));
    struct Case {
        const char* from;
        const char* to;
        OnExisting existing;
        int error;
    } const refused[] = {
        {"Archive", "Archive/Taxes/Inside", OnExisting::Refuse, EINVAL},
        {"Photos/IMG_0001.JPG", "Archive/Taxes/notes.txt", OnExisting::Refuse, EEXIST},
        {"Photos/IMG_0001.JPG", "Archive/Taxes/2025", OnExisting::Replace, EISDIR},
        {"Empty", "Archive/Taxes/notes.txt", OnExisting::Replace, ENOTDIR},
        {"Empty", "Archive/Taxes", OnExisting::Replace, ENOTEMPTY},
        {"Nowhere", "Somewhere", OnExisting::Refuse, ENOENT},
        {"Photos", "Missing/Photos", OnExisting::Refuse, ENOENT},
    };
    const std::vector<std::string> before = paths();
    for (const Case& c : refused) {
        EXPECT_FALSE(tree().moveEntry(index, c.from, c.to, c.existing)) << c.from;
        EXPECT_EQ(tree().lastError(), c.error) << c.from << " -> " << c.to;
    }
    EXPECT_EQ(paths(), before);

    ASSERT_TRUE(tree().moveEntry(index, "Photos/IMG_0001.JPG", "Archive/Taxes/notes.txt",
                                 OnExisting::Replace));
    EXPECT_EQ(contentAt("Archive/Taxes/notes.txt"), "jpg");
    ASSERT_TRUE(tree().moveEntry(index, "Photos", "Empty", OnExisting::Replace));
    EXPECT_EQ(rowNames(), (std::vector<std::string>{"Archive/Taxes/2025/return.pdf",
                                                    "Archive/Taxes/notes.txt"}));
    vaultCommit();
    reopen();
    EXPECT_EQ(paths(), (std::vector<std::string>{
                           "Archive/", "Archive/Taxes/", "Archive/Taxes/2025/",
                           "Archive/Taxes/2025/return.pdf", "Archive/Taxes/notes.txt", "Empty/"}));
}

TEST_F(ContentsTreeTest, AFolderGoesOnlyEmptyUnlessEverythingInItGoes) {
    makeTree();
    EXPECT_EQ(tree().removeEntry(index, "Taxes", FolderRemoval::OnlyEmpty), RemoveResult::Failed);
    EXPECT_EQ(tree().lastError(), ENOTEMPTY);
    EXPECT_EQ(paths().size(), 6u);
    EXPECT_EQ(tree().removeEntry(index, "Taxes", FolderRemoval::WithEverything),
              RemoveResult::Removed);
    EXPECT_EQ(paths(), (std::vector<std::string>{"Photos/", "Photos/IMG_0001.JPG"}));
    EXPECT_EQ(rowNames(), (std::vector<std::string>{"Photos/IMG_0001.JPG"}));
    ASSERT_EQ(tree().removeEntry(index, "Photos/IMG_0001.JPG", FolderRemoval::OnlyEmpty),
              RemoveResult::Removed);
    EXPECT_EQ(tree().removeEntry(index, "Photos", FolderRemoval::OnlyEmpty), RemoveResult::Removed);
    EXPECT_TRUE(paths().empty());
}

TEST_F(ContentsTreeTest, StampsAndSizesOutliveACommitAndAFreshOpen) {
    makeTree();
    const EntryStamp touched{1234567890, 999999999, 0700};
    ASSERT_TRUE(tree().setStamp(index, "Taxes/2025", touched));
    ASSERT_TRUE(tree().setStamp(index, "Photos/IMG_0001.JPG", {-5, 1, 0400}));
    const std::string big = test::patternBytes(3 * SmallChunk + 7, 2);
    ASSERT_EQ(add(*contents, "Taxes/notes.txt", big, OnExisting::Replace), AppendResult::Appended);
    const std::vector<ContentEntry> before = tree().entries(index);
    ASSERT_EQ(vaultCommit(), vault::StepResult::Done);
    reopen();
    EXPECT_EQ(tree().entries(index), before);
    EXPECT_EQ(tree().entry(index, "Taxes/2025")->stamp, touched);
    EXPECT_EQ(tree().entry(index, "Photos/IMG_0001.JPG")->stamp, (EntryStamp{-5, 1, 0400}));
    EXPECT_EQ(tree().entry(index, "Taxes/notes.txt")->size, big.size());
    EXPECT_EQ(contentAt("Taxes/notes.txt"), big);
    char byte = 0;
    EXPECT_EQ(tree().readEntry(index, "Taxes/notes.txt", big.size() - 1, &byte, 1), 1);
    EXPECT_EQ(byte, big.back());
    EXPECT_EQ(tree().readEntry(index, "Taxes", 0, &byte, 1), -1);
    EXPECT_EQ(tree().lastError(), EISDIR);
}

// A folder's time moves when a name in it comes or goes, whoever changes the
// names (the window, the tool, the folder), and only then; both folders of
// a move. The times are stored: they survive a commit and a fresh open.
TEST_F(ContentsTreeTest, AFoldersTimeMovesWhenANameInItComesOrGoes) {
    makeTree();
    const auto rowOf = [&](const std::string& path) {
        const auto names = rowNames();
        return static_cast<std::size_t>(std::find(names.begin(), names.end(), path) -
                                        names.begin());
    };
    const struct {
        const char* what;
        std::function<bool()> change;
        std::vector<std::string> moved; // of Taxes, Taxes/2025 and Photos
    } steps[] = {
        {"a file added",
         [&] { return add(*contents, "Taxes/2025/a.pdf", "a") == AppendResult::Appended; },
         {"Taxes/2025"}},
        {"a file replaced",
         [&] {
             return add(*contents, "Taxes/2025/a.pdf", "b", OnExisting::Replace) ==
                    AppendResult::Appended;
         },
         {}},
        {"a file's time set", [&] { return tree().setStamp(index, "Taxes/notes.txt", Stamp); }, {}},
        {"a folder made",
         [&] { return tree().makeFolder(index, "Photos/2024", Stamp); },
         {"Photos"}},
        {"a file moved between folders",
         [&] {
             return tree().moveEntry(index, "Taxes/notes.txt", "Photos/notes.txt",
                                     OnExisting::Refuse);
         },
         {"Taxes", "Photos"}},
        {"a row renamed in its folder",
         [&] { return tree().rename(index, rowOf("Photos/notes.txt"), "Photos/n.txt"); },
         {"Photos"}},
        {"a row removed",
         [&] { return tree().remove(index, rowOf("Taxes/2025/a.pdf")) == RemoveResult::Removed; },
         {"Taxes/2025"}},
        {"a folder removed with everything",
         [&] {
             return tree().removeEntry(index, "Photos/2024", FolderRemoval::WithEverything) ==
                    RemoveResult::Removed;
         },
         {"Photos"}},
        {"a move refused",
         [&] { return !tree().moveEntry(index, "Photos", "Taxes", OnExisting::Refuse); },
         {}},
    };
    const std::vector<std::string> folders{"Taxes", "Taxes/2025", "Photos"};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        for (const std::string& path : folders)
            ASSERT_TRUE(tree().setStamp(index, path, Stamp));
        ASSERT_TRUE(step.change());
        for (const std::string& path : folders) {
            const bool moved = std::count(step.moved.begin(), step.moved.end(), path) > 0;
            const EntryStamp now = tree().entry(index, path)->stamp;
            EXPECT_EQ(now.modifiedSeconds != Stamp.modifiedSeconds, moved) << path;
            EXPECT_EQ(now.mode, Stamp.mode & 0700) << path << ": the mode stays";
        }
    }
    ASSERT_EQ(tree().removeEntry(index, "Taxes/2025", FolderRemoval::WithEverything),
              RemoveResult::Removed);
    const std::vector<ContentEntry> before = tree().entries(index);
    EXPECT_NE(tree().entry(index, "Taxes")->stamp, Stamp);
    ASSERT_EQ(vaultCommit(), vault::StepResult::Done);
    reopen();
    EXPECT_EQ(tree().entries(index), before);
}

// Each change updates the rows it touches only; after every step the index
// must read as a fresh listing of the same vault does.
TEST_F(ContentsTreeTest, TheRowsAfterEachChangeAreTheRowsAFreshListingShows) {
    makeTree();
    const std::vector<std::pair<std::string, std::function<bool()>>> steps = {
        {"new file", [&] { return add(*contents, "a.txt", "aa") == AppendResult::Appended; }},
        {"replaced, larger",
         [&] {
             return add(*contents, "Taxes/notes.txt", "longer notes", OnExisting::Replace) ==
                    AppendResult::Appended;
         }},
        {"stamp", [&] { return tree().setStamp(index, "a.txt", Stamp); }},
        {"new after a commit",
         [&] {
             return vaultCommit() == vault::StepResult::Done &&
                    add(*contents, "Photos/b.jpg", "bbb") == AppendResult::Appended;
         }},
        {"removed",
         [&] {
             return tree().removeEntry(index, "a.txt", FolderRemoval::OnlyEmpty) ==
                    RemoveResult::Removed;
         }},
        {"replaced after removal",
         [&] {
             return add(*contents, "Photos/b.jpg", "b", OnExisting::Replace) ==
                    AppendResult::Appended;
         }},
        {"stale index",
         [&] {
             index.entryDetails.pop_back();
             return add(*contents, "c.txt", "c") == AppendResult::Appended;
         }},
    };
    for (const auto& [step, change] : steps) {
        ASSERT_TRUE(change()) << step;
        ContainerIndex fresh;
        tree().list(fresh);
        EXPECT_EQ(index, fresh) << step;
    }
    EXPECT_EQ(index.entryDetails.back().name, "c.txt");
}

TEST_F(ContentsTreeTest, APlainContainerKeepsItsFlatListAndRefusesFolders) {
    const fs::path working = folder / "working";
    test::writeFile(working, emptyContainerBytes());
    int error = 0;
    auto file = PlainFile::open(working, O_RDWR, error);
    PlainContents plainContents(*file);
    SafeContents& plain = plainContents;
    plain.list(index);
    EXPECT_FALSE(plain.keepsTree());
    ASSERT_EQ(add(plain, "a.txt", "one"), AppendResult::Appended);
    ASSERT_EQ(add(plain, "a.txt", "two", OnExisting::Replace), AppendResult::Appended);
    EXPECT_EQ(plain.entries(index),
              (std::vector<ContentEntry>{{"a.txt", ContentKind::File, 3, EntryStamp{}}}));
    struct Case {
        const char* what;
        std::function<bool()> call;
        int error;
    } const refused[] = {
        {"a folder", [&] { return plain.makeFolder(index, "Taxes", Stamp); }, EPERM},
        {"a path", [&] { return add(plain, "Taxes/a", "x") == AppendResult::Appended; }, EPERM},
        {"a move into a folder",
         [&] { return plain.moveEntry(index, "a.txt", "Taxes/a.txt", OnExisting::Refuse); }, EPERM},
        {"a stamp", [&] { return plain.setStamp(index, "a.txt", Stamp); }, EPERM},
        {"a long name",
         [&] {
             return add(plain, std::string(EntryNameSize + 1, 'n'), "x") == AppendResult::Appended;
         },
         ENAMETOOLONG},
        {"a taken name", [&] { return add(plain, "a.txt", "x") == AppendResult::Appended; },
         EEXIST},
        {"no such name", [&] { return plain.setStamp(index, "b.txt", Stamp); }, ENOENT},
    };
    for (const Case& c : refused) {
        EXPECT_FALSE(c.call()) << c.what;
        EXPECT_EQ(plain.lastError(), c.error) << c.what;
    }
    ASSERT_TRUE(plain.moveEntry(index, "a.txt", "b.txt", OnExisting::Refuse));
    std::ostringstream out;
    ASSERT_TRUE(plain.extractEntry(index, "b.txt", out));
    EXPECT_EQ(out.str(), "two");
    EXPECT_EQ(plain.removeEntry(index, "b.txt", FolderRemoval::OnlyEmpty), RemoveResult::Removed);
    EXPECT_TRUE(plain.entries(index).empty());
}

// Another program's write into the safe file makes every later change fail;
// a change of its metadata alone (chmod) does not, nor does it hide a write
// that follows it, or one that puts the size and the time back.
TEST_F(ContentsTreeTest, AnotherProgramsWriteIsNoticedAndMetadataIsNot) {
    const auto pause = [] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); };
    const auto chmodSafe = [&] { ASSERT_EQ(::chmod(safe.c_str(), 0640), 0); };
    const auto chmodAgain = [&] { ASSERT_EQ(::chmod(safe.c_str(), 0604), 0); };
    // One byte of the file's tail written back as it was, its time put back.
    const auto writeInPlace = [&] {
        struct stat before {};
        ASSERT_EQ(::stat(safe.c_str(), &before), 0);
        const int fd = ::open(safe.c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        unsigned char last = 0;
        ASSERT_EQ(::pread(fd, &last, 1, before.st_size - 1), 1);
        ASSERT_EQ(::pwrite(fd, &last, 1, before.st_size - 1), 1);
        const timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(::futimens(fd, times), 0);
        ::close(fd);
    };
    struct Case {
        const char* what;
        std::vector<std::function<void()>> changes;
        bool writable;
    } const cases[] = {
        {"nothing", {}, true},
        {"chmod", {chmodSafe}, true},
        {"chmod twice", {chmodSafe, chmodAgain}, true},
        {"a write, its time put back", {writeInPlace}, false},
        {"chmod, then a write", {chmodSafe, writeInPlace}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(::chmod(safe.c_str(), 0600), 0);
        reopen();
        ASSERT_TRUE(tree().makeFolder(index, "Before", Stamp));
        for (const auto& change : c.changes) {
            pause();
            change();
            // Asked between the changes, as the folder asks after each request.
            tree().unchanged();
        }
        EXPECT_EQ(tree().unchanged(), c.writable);
        EXPECT_EQ(tree().makeFolder(index, "After", Stamp), c.writable);
        if (!c.writable) {
            EXPECT_EQ(tree().lastError(), SafeChangedInPlace);
        }
        contents.reset();
        createVault(safe);
    }
}

// A removal or a move keeps the rows it leaves as a list made anew shows
// them: the later rows move up and take the removed one's numbers, a moved
// file keeps its row; an empty folder made or removed leaves them as they are.
TEST_F(ContentsTreeTest, ARemovalOrAMoveLeavesTheRowsAFreshListShows) {
    struct Case {
        const char* what;
        std::function<bool()> change;
    } const cases[] = {
        {"the first row", [&] { return tree().remove(index, 0) == RemoveResult::Removed; }},
        {"a middle row", [&] { return tree().remove(index, 1) == RemoveResult::Removed; }},
        {"the last row", [&] { return tree().remove(index, 2) == RemoveResult::Removed; }},
        {"a file by path",
         [&] {
             return tree().removeEntry(index, "Taxes/notes.txt", FolderRemoval::OnlyEmpty) ==
                    RemoveResult::Removed;
         }},
        {"a folder with its files",
         [&] {
             return tree().removeEntry(index, "Taxes", FolderRemoval::WithEverything) ==
                    RemoveResult::Removed;
         }},
        {"a file moved",
         [&] {
             return tree().moveEntry(index, "Taxes/notes.txt", "Photos/notes.txt",
                                     OnExisting::Refuse);
         }},
        {"a file moved over another",
         [&] {
             return tree().moveEntry(index, "Photos/IMG_0001.JPG", "Taxes/notes.txt",
                                     OnExisting::Replace);
         }},
        {"a file moved over an earlier one",
         [&] {
             return tree().moveEntry(index, "Taxes/notes.txt", "Taxes/2025/return.pdf",
                                     OnExisting::Replace);
         }},
        {"a folder moved",
         [&] { return tree().moveEntry(index, "Taxes", "Steuern", OnExisting::Refuse); }},
        {"an empty folder made", [&] { return tree().makeFolder(index, "Empty", Stamp); }},
        {"an empty folder removed",
         [&] {
             return tree().makeFolder(index, "Empty", Stamp) &&
                    tree().removeEntry(index, "Empty", FolderRemoval::OnlyEmpty) ==
                        RemoveResult::Removed;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        contents.reset();
        createVault(safe);
        reopen();
        makeTree();
        ASSERT_TRUE(c.change());
        ContainerIndex fresh;
        tree().list(fresh);
        EXPECT_EQ(index, fresh);
    }
}

} // namespace
} // namespace quorvane
