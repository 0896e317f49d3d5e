#include "storage/format/Container.h"

#include "TempFolder.h"
#include "storage/workingcopy/PlainFile.h"
#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quorvane::test {
namespace {

constexpr std::uint64_t MiB = 1u << 20;

Bytes emptyContainer() {
    return {0, 0, 0, 0, 2, 0, 0, 0, 12, 0, 0, 0, 0x33, 1, 0, 0};
}

std::unique_ptr<PlainFile> openFile(const std::filesystem::path& path, int flags = O_RDWR) {
    int error = 0;
    return PlainFile::open(path, flags, error);
}

// A container in a fresh folder, the way the tools hold one.
class WorkingCopyTest : public ::testing::Test {
  public:
    void SetUp() override {
        writeBytes(path, emptyContainer());
        open();
    }

    void open(int flags = O_RDWR) {
        file = openFile(path, flags);
        ASSERT_TRUE(file);
    }

    IndexReadResult load() { return readContainerIndex(*file, index); }

    std::filesystem::path source(const std::string& name, const std::string& content) {
        const std::filesystem::path at = dir / ("src-" + name);
        writeFile(at, content);
        return at;
    }

    // Appends a file the way the add command does; the index it keeps must be
    // what a fresh load of the file gives.
    AppendResult add(const std::string& name, const std::string& content) {
        const AppendResult result = appendFrom(index, source(name, content), name, content.size());
        expectIndexAsLoaded();
        return result;
    }

    AppendResult appendFrom(ContainerIndex& into, const std::filesystem::path& from,
                            const std::string& name, std::uint64_t size,
                            const ProgressCallback& progress = {}) {
        const std::unique_ptr<PlainFile> sourceFile = openFile(from, O_RDONLY);
        return sourceFile ? appendEntry(*file, into, *sourceFile, name, size, progress)
                          : AppendResult::SourceUnreadable;
    }

    void expectIndexAsLoaded() {
        ContainerIndex fresh;
        readContainerIndex(*file, fresh);
        EXPECT_EQ(index, fresh);
    }

    std::string extract(std::size_t row) {
        std::ostringstream out;
        EXPECT_TRUE(extractEntryContent(*file, index, row, out));
        return out.str();
    }

    Bytes fileBytes() { return readBytes(path); }

    TempFolder dir;
    std::filesystem::path path = dir / "temp2";
    std::unique_ptr<PlainFile> file;
    ContainerIndex index;
};

void appendRecord(Bytes& bytes, const std::string& name, const std::string& content) {
    for (std::size_t i = 0; i < EntryNameSize; ++i)
        bytes.push_back(i < name.size() ? static_cast<unsigned char>(name[i]) : 0);
    appendU64(bytes, content.size());
    bytes.insert(bytes.end(), content.begin(), content.end());
}

// ---------------------------------------------------------------- create

TEST(CreateContainer, WritesTheSixteenKnownBytesOverWhatWasThere) {
    TempFolder dir;
    writeFile(dir / "c", std::string(1000, 'x'));
    ASSERT_TRUE(writeEmptyContainer(*openFile(dir / "c")));
    EXPECT_EQ(readBytes(dir / "c"), emptyContainer());
    const std::string bytes = emptyContainerBytes();
    EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), emptyContainer());
}

TEST(CreateContainer, FailsWhenTheFileCannotBeWritten) {
    TempFolder dir;
    writeFile(dir / "c", "old");
    EXPECT_FALSE(writeEmptyContainer(*openFile(dir / "c", O_RDONLY)));
    EXPECT_EQ(readFile(dir / "c"), "old");
}

TEST_F(WorkingCopyTest, EmptyContainerLoadsWithNoEntries) {
    const IndexReadResult report = load();
    EXPECT_FALSE(report.damaged);
    EXPECT_FALSE(report.versionMismatch);
    EXPECT_EQ(index.entryCount, 0u);
    EXPECT_EQ(index.formatVersion, 2u);
    EXPECT_EQ(index.indexOffset, 12u);
    EXPECT_EQ(index.workingCopyLength, 16u);
    EXPECT_TRUE(index.indexRows.empty());
    EXPECT_TRUE(index.entryDetails.empty());
}

// ---------------------------------------------------------------- append

TEST_F(WorkingCopyTest, OneAppendGivesTheExactLayout) {
    load();
    ASSERT_EQ(add("a.txt", "hello"), AppendResult::Appended);

    Bytes expected;
    appendU32(expected, 1);
    appendU32(expected, 2);
    appendU32(expected, 75);
    appendRecord(expected, "a.txt", "hello");
    appendU32(expected, 0);
    appendU32(expected, 12);
    EXPECT_EQ(fileBytes(), expected);

    EXPECT_EQ(index.entryCount, 1u);
    EXPECT_EQ(index.indexOffset, 75u);
    ASSERT_EQ(index.entryDetails.size(), 1u);
    EXPECT_EQ(index.entryDetails[0].name, "a.txt");
    EXPECT_EQ(index.entryDetails[0].size, 5u);
    EXPECT_EQ(extract(0), "hello");
}

TEST_F(WorkingCopyTest, SecondAppendOverwritesTheFirstTable) {
    load();
    ASSERT_EQ(add("a.txt", "hello"), AppendResult::Appended);
    ASSERT_EQ(add("b.bin", "xyz"), AppendResult::Appended);

    Bytes expected;
    appendU32(expected, 2);
    appendU32(expected, 2);
    appendU32(expected, 75 + 58 + 3);
    appendRecord(expected, "a.txt", "hello");
    appendRecord(expected, "b.bin", "xyz");
    appendU32(expected, 0);
    appendU32(expected, 12);
    appendU32(expected, 1);
    appendU32(expected, 75);
    EXPECT_EQ(fileBytes(), expected);
    EXPECT_EQ(extract(0), "hello");
    EXPECT_EQ(extract(1), "xyz");
}

TEST_F(WorkingCopyTest, NamesOfFiftyAndSixtyBytesFillTheFieldWithoutTerminator) {
    load();
    const std::string fifty(50, 'n');
    const std::string sixty = std::string(50, 'm') + "0123456789";
    ASSERT_EQ(add(fifty, "1"), AppendResult::Appended);
    ASSERT_EQ(add(sixty, "2"), AppendResult::Appended);
    EXPECT_EQ(index.entryDetails[0].name, fifty);
    EXPECT_EQ(index.entryDetails[1].name, std::string(50, 'm'));

    const Bytes bytes = fileBytes();
    // The size field follows the 50 name bytes directly: no terminator.
    EXPECT_EQ(bytes[12 + 49], 'n');
    EXPECT_EQ(bytes[12 + 50], 1);
    EXPECT_EQ(u32At(bytes, 12 + 50 + 4), 0u);
}

TEST(EntryNameField, ALongNameIsCutBeforeACharacterThatWouldNotFitWhole) {
    const std::string a48(48, 'a');
    const std::string a47(47, 'a');
    const struct {
        std::string name;
        std::size_t kept;
    } cases[] = {
        {std::string(50, 'a'), 50},
        {std::string(51, 'a'), 50},
        {a48 + "\xc3\xa9" + "x", 50},            // two-byte character ends at 50
        {std::string(49, 'a') + "\xc3\xa9", 49}, // and one that would end at 51
        {a48 + "\xe2\x82\xac", 48},              // three bytes over the cut
        {a47 + "\xf0\x9f\x94\x91", 47},          // four bytes, one past the field
        {a48 + "\xf0\x9f\x94\x91", 48},
        {a47 + "\x80\x80\x80\x80\x80", 50}, // no UTF-8: the plain cut
        {"", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(keptNameLength(c.name), c.kept) << c.name;
        const EntryName field = makeEntryName(c.name);
        EXPECT_EQ(std::string(field.data(), c.kept), c.name.substr(0, c.kept));
        EXPECT_EQ(std::string(field.data() + c.kept, field.size() - c.kept),
                  std::string(field.size() - c.kept, '\0'));
    }
}

TEST(FittedEntryName, ALongNameKeepsItsExtensionAndACutStem) {
    const std::string german = "Lohnsteuerbescheinigung Arbeitgeber GmbH 2023 (Kopie).pdf";
    const std::string japanese = "\xe7\xa2\xba\xe5\xae\x9a\xe7\x94\xb3\xe5\x91\x8a"; // 12 bytes
    const struct {
        std::string name;
        std::string fitted;
    } cases[] = {
        {"short.pdf", "short.pdf"},
        {std::string(50, 'a'), std::string(50, 'a')},
        {german, "Lohnsteuerbescheinigung Arbeitgeber GmbH 2023.pdf"},
        {std::string(60, 'b'), std::string(50, 'b')},
        // The spaces a cut leaves at the stem's end go.
        {"Lohnsteuerbescheinigung Arbeitgeber GmbH 2023 (Kopie).docx",
         "Lohnsteuerbescheinigung Arbeitgeber GmbH 2023.docx"},
        // A cut that would split a character goes back to its first byte.
        {japanese + japanese + japanese + japanese + ".txt",
         japanese + japanese + japanese + "\xe7\xa2\xba\xe5\xae\x9a\xe7\x94\xb3.txt"},
        // An extension too long to be one, and a name that is one, are cut at the end.
        {std::string(40, 'c') + "." + std::string(20, 'x'),
         std::string(40, 'c') + "." + std::string(9, 'x')},
        {"." + std::string(60, 'd'), "." + std::string(49, 'd')},
    };
    for (const auto& c : cases) {
        const std::string fitted = fittedEntryName(c.name);
        EXPECT_EQ(fitted, c.fitted) << c.name;
        EXPECT_LE(fitted.size(), EntryNameSize) << c.name;
    }
}

class AppendContentSize : public WorkingCopyTest,
                          public ::testing::WithParamInterface<std::size_t> {};

TEST_P(AppendContentSize, ContentIsStoredAndExtractedWhole) {
    load();
    const std::string content = patternBytes(GetParam(), 7);
    ASSERT_EQ(add("a", "first"), AppendResult::Appended);
    ASSERT_EQ(add("content", content), AppendResult::Appended);
    ASSERT_EQ(add("z", "last"), AppendResult::Appended);
    EXPECT_FALSE(load().damaged);
    EXPECT_EQ(index.entryDetails[1].size, content.size());
    EXPECT_EQ(extract(0), "first");
    EXPECT_EQ(extract(1), content);
    EXPECT_EQ(extract(2), "last");
    EXPECT_EQ(index.workingCopyLength, 12 + 3 * 58 + 5 + content.size() + 4 + 3 * 8);
}

INSTANTIATE_TEST_SUITE_P(BlockEdges, AppendContentSize,
                         ::testing::Values(1, 512, 513, MiB - 1, MiB, MiB + 1, 3 * MiB + 17));

TEST_F(WorkingCopyTest, ProgressReachesTheWholeSize) {
    load();
    const std::string content = patternBytes(2 * MiB + 5, 3);
    std::uint64_t lastDone = 0;
    std::uint64_t lastTotal = 0;
    const auto progress = [&](std::uint64_t done, std::uint64_t total) {
        EXPECT_GE(done, lastDone);
        lastDone = done;
        lastTotal = total;
    };
    ASSERT_EQ(appendFrom(index, source("p", content), "p", content.size(), progress),
              AppendResult::Appended);
    EXPECT_EQ(lastDone, content.size());
    EXPECT_EQ(lastTotal, content.size());
}

// ---------------------------------------------------- append: refusals and restores

class AppendRefusal : public WorkingCopyTest {
  public:
    void SetUp() override {
        WorkingCopyTest::SetUp();
        load();
        ASSERT_EQ(add("one", "first entry"), AppendResult::Appended);
        ASSERT_EQ(add("two", "second"), AppendResult::Appended);
        before = fileBytes();
    }

    void expectUnchangedAndUsable() {
        EXPECT_EQ(fileBytes(), before);
        expectIndexAsLoaded();
        const IndexReadResult report = load();
        EXPECT_FALSE(report.damaged);
        ASSERT_EQ(index.indexRows.size(), 2u);
        ASSERT_EQ(add("three", "third"), AppendResult::Appended);
        EXPECT_FALSE(load().damaged);
        ASSERT_EQ(index.indexRows.size(), 3u);
        EXPECT_EQ(extract(0), "first entry");
        EXPECT_EQ(extract(1), "second");
        EXPECT_EQ(extract(2), "third");
    }

    Bytes before;
};

// Each refusal leaves the container byte for byte as it was, and usable.
struct RefusalCase {
    const char* what;
    std::function<AppendResult(AppendRefusal&)> attempt;
    AppendResult expected;
};

class AppendRefusalCase : public AppendRefusal,
                          public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(AppendRefusalCase, PutsTheContainerBack) {
    SCOPED_TRACE(GetParam().what);
    EXPECT_EQ(GetParam().attempt(*this), GetParam().expected);
    expectUnchangedAndUsable();
}

AppendResult appendWithOffset(AppendRefusal& t, std::uint64_t offset,
                              const std::filesystem::path& source, std::uint64_t size) {
    ContainerIndex changed = t.index;
    changed.indexOffset = static_cast<std::uint32_t>(offset);
    const AppendResult result = t.appendFrom(changed, source, "s", size);
    changed.indexOffset = t.index.indexOffset;
    EXPECT_EQ(changed, t.index); // a refused append keeps the index as it was
    return result;
}

// Where the table must start for a 10-byte entry to end a container exactly
// at the limit: 58 + 10 content bytes + 3 rows.
constexpr std::uint64_t OffsetAtTheLimit = ContainerLimit - 58 - 10 - 3 * 8;

const RefusalCase RefusalCases[] = {
    {"source of 4 GiB",
     [](AppendRefusal& t) {
         const std::filesystem::path huge = t.dir / "huge";
         writeFile(huge, "");
         std::filesystem::resize_file(huge, 4 * 1024 * MiB); // sparse: nothing written
         return t.appendFrom(t.index, huge, "huge", 4 * 1024 * MiB);
     },
     AppendResult::TooLarge},
    {"container one byte past the limit",
     [](AppendRefusal& t) {
         return appendWithOffset(t, OffsetAtTheLimit + 1, t.source("s", "0123456789"), 10);
     },
     AppendResult::TooLarge},
    {"container exactly at the limit: the missing source stops it",
     [](AppendRefusal& t) { return appendWithOffset(t, OffsetAtTheLimit, t.dir / "nothing", 10); },
     AppendResult::SourceUnreadable},
    {"empty source",
     [](AppendRefusal& t) {
         return appendWithOffset(t, t.index.indexOffset, t.source("s", ""), 5);
     },
     AppendResult::SourceUnreadable},
    {"source shorter than its size, as if it shrank",
     [](AppendRefusal& t) {
         const std::string content = patternBytes(3 * MiB + 100, 9);
         return appendWithOffset(t, t.index.indexOffset, t.source("s", content),
                                 content.size() + 1);
     },
     AppendResult::SourceUnreadable},
    {"source that is a folder",
     [](AppendRefusal& t) {
         std::filesystem::create_directory(t.dir / "folder");
         return appendWithOffset(t, t.index.indexOffset, t.dir / "folder", 4096);
     },
     AppendResult::SourceUnreadable},
    {"offset inside the header",
     [](AppendRefusal& t) { return appendWithOffset(t, 4, t.source("s", "abc"), 3); },
     AppendResult::WriteFailed},
    {"offset past the end",
     [](AppendRefusal& t) {
         return appendWithOffset(t, t.before.size() + 4096, t.source("s", "abc"), 3);
     },
     AppendResult::WriteFailed},
    {"working copy open for reading only",
     [](AppendRefusal& t) {
         t.open(O_RDONLY);
         const AppendResult result =
             appendWithOffset(t, t.index.indexOffset, t.source("s", "abc"), 3);
         t.open();
         return result;
     },
     AppendResult::WriteFailed},
};

INSTANTIATE_TEST_SUITE_P(Refusals, AppendRefusalCase, ::testing::ValuesIn(RefusalCases));

TEST_F(AppendRefusal, AShortSourceLeavesNothingOfItBehindTheOldEnd) {
    const std::string content = patternBytes(5000, 4);
    EXPECT_EQ(appendFrom(index, source("s", content), "s", content.size() + 1),
              AppendResult::SourceUnreadable);
    EXPECT_EQ(fileBytes(), before);
    EXPECT_FALSE(load().damaged);
    EXPECT_EQ(index.indexRows.size(), 2u);
    EXPECT_EQ(extract(1), "second");
}

TEST_F(AppendRefusal, AFullDiskPutsTheContainerBack) {
    const std::string content = patternBytes(300000, 3);
    const std::filesystem::path big = source("big", content);
    // In a child whose files may not grow past the old end + 1000 bytes, as on
    // a disk that fills up in the middle of the content.
    EXPECT_EQ(runInChild([&] {
                  const FileSizeLimit limit(before.size() + 1000);
                  EXPECT_EQ(appendFrom(index, big, "big", content.size()),
                            AppendResult::WriteFailed);
              }),
              0);
    expectUnchangedAndUsable();
}

// ---------------------------------------------------------------- extract

TEST_F(WorkingCopyTest, ARowThatDoesNotExistIsRefusedAndChangesNothing) {
    load();
    EXPECT_FALSE(renameEntry(*file, index, 0, makeEntryName("x")));
    EXPECT_EQ(fileBytes(), emptyContainer());
    ASSERT_EQ(add("a", "abc"), AppendResult::Appended);
    const Bytes before = fileBytes();
    std::ostringstream out;
    EXPECT_FALSE(extractEntryContent(*file, index, 1, out));
    EXPECT_TRUE(out.str().empty());
    EXPECT_FALSE(renameEntry(*file, index, 1, makeEntryName("x")));
    EXPECT_EQ(removeEntry(*file, index, 1), RemoveResult::Failed);
    EXPECT_EQ(fileBytes(), before);
    EXPECT_EQ(index.entryCount, 1u);
}

TEST_F(WorkingCopyTest, ExtractReportsAShortWorkingCopy) {
    load();
    ASSERT_EQ(add("a", patternBytes(4000, 1)), AppendResult::Appended);
    std::filesystem::resize_file(path, 12 + 58 + 100);
    std::ostringstream out;
    EXPECT_FALSE(extractEntryContent(*file, index, 0, out));
    // The file is usable afterwards.
    char first = 0;
    EXPECT_TRUE(file->readAt(0, &first, 1));
}

TEST_F(WorkingCopyTest, ExtractReportsAFailingOutput) {
    load();
    ASSERT_EQ(add("a", "abc"), AppendResult::Appended);
    std::ofstream closed;
    EXPECT_FALSE(extractEntryContent(*file, index, 0, closed));
}

// ---------------------------------------------------------------- rename

TEST_F(WorkingCopyTest, RenameWritesExactlyTheFiftyNameBytes) {
    load();
    ASSERT_EQ(add("first", "11111"), AppendResult::Appended);
    ASSERT_EQ(add("second", "2222222"), AppendResult::Appended);
    const Bytes before = fileBytes();
    ASSERT_TRUE(renameEntry(*file, index, 1, makeEntryName(std::string(60, 'r'))));
    expectIndexAsLoaded();
    const Bytes after = fileBytes();
    ASSERT_EQ(after.size(), before.size());
    const std::size_t at = index.indexRows[1].entryOffset;
    for (std::size_t i = 0; i < after.size(); ++i) {
        if (i >= at && i < at + EntryNameSize)
            EXPECT_EQ(after[i], 'r') << i;
        else
            EXPECT_EQ(after[i], before[i]) << i;
    }
    load();
    EXPECT_EQ(index.entryDetails[1].name, std::string(50, 'r'));
    EXPECT_EQ(index.entryDetails[0].name, "first");
    EXPECT_EQ(extract(1), "2222222");
    // A shorter name hides the old tail.
    ASSERT_TRUE(renameEntry(*file, index, 1, makeEntryName("b")));
    load();
    EXPECT_EQ(index.entryDetails[1].name, "b");
}

// ---------------------------------------------------------------- remove

// The removal exactly as the format has always done it, on bytes in memory:
// move down, rows, header, then keep the first new end + 100 bytes; and what
// no row points to any more (the removed head, the moved-down old table, the
// bytes behind the new table) is zeros.
Bytes removedByTheBook(Bytes file, const ContainerIndex& index, std::size_t row) {
    const std::size_t off = index.indexRows[row].entryOffset;
    const std::size_t size = index.entryDetails[row].size;
    const std::size_t end = index.workingCopyLength;
    const auto at_ = [&](std::size_t i) { return file.begin() + static_cast<std::ptrdiff_t>(i); };
    std::copy(at_(off + 58 + size), at_(end), at_(off + 58));
    std::fill(at_(off), at_(off + 58), 0);
    std::fill(at_(index.indexOffset - size), at_(end - size), 0);
    std::size_t at = end - size;
    for (std::size_t i = 0; i < index.indexRows.size(); ++i) {
        if (i == row)
            continue;
        IndexRow r = index.indexRows[i];
        if (i > row) {
            r.entryNumber -= 1;
            r.entryOffset -= static_cast<std::uint32_t>(size);
        }
        if (file.size() < at + 8)
            file.resize(at + 8);
        putU32At(file, at, r.entryNumber);
        putU32At(file, at + 4, r.entryOffset);
        at += 8;
    }
    putU32At(file, 0, index.entryCount - 1);
    putU32At(file, 4, index.formatVersion);
    putU32At(file, 8, static_cast<std::uint32_t>(end - size));
    file.resize(std::min(file.size(), at + 100));
    std::fill(at_(std::min(at, file.size())), file.end(), 0);
    return file;
}

class RemoveEntry : public WorkingCopyTest {
  protected:
    void expectRemovedByTheBook(std::size_t row) {
        const Bytes expected = removedByTheBook(fileBytes(), index, row);
        const std::uint32_t countBefore = index.entryCount;
        ASSERT_EQ(removeEntry(*file, index, row), RemoveResult::Removed);
        EXPECT_EQ(index.entryCount, countBefore - 1);
        EXPECT_EQ(fileBytes(), expected);
        expectIndexAsLoaded();
        EXPECT_FALSE(load().damaged);
    }
};

TEST_F(RemoveEntry, FirstOfThreeRenumbersAndLowersOffsetsBySizeOnly) {
    load();
    ASSERT_EQ(add("a", "AAAAA"), AppendResult::Appended);
    ASSERT_EQ(add("b", "BBBBBBB"), AppendResult::Appended);
    ASSERT_EQ(add("c", "CCCCCCCCC"), AppendResult::Appended);
    const std::uint64_t end = index.workingCopyLength;
    ASSERT_EQ(index.indexRows[1].entryOffset, 75u);
    ASSERT_EQ(index.indexRows[2].entryOffset, 140u);
    expectRemovedByTheBook(0);

    EXPECT_EQ(index.entryCount, 2u);
    EXPECT_EQ(index.indexOffset, end - 5);
    EXPECT_EQ(index.indexRows[0].entryNumber, 0u);
    EXPECT_EQ(index.indexRows[0].entryOffset, 70u);
    EXPECT_EQ(index.indexRows[1].entryNumber, 1u);
    EXPECT_EQ(index.indexRows[1].entryOffset, 135u);
    EXPECT_EQ(index.entryDetails[0].name, "b");
    EXPECT_EQ(extract(0), "BBBBBBB");
    EXPECT_EQ(extract(1), "CCCCCCCCC");
}

TEST_F(RemoveEntry, MiddleAndLastEntries) {
    load();
    ASSERT_EQ(add("a", "AAAAA"), AppendResult::Appended);
    ASSERT_EQ(add("b", "BBBBBBB"), AppendResult::Appended);
    ASSERT_EQ(add("c", "CCCCCCCCC"), AppendResult::Appended);
    expectRemovedByTheBook(1);
    EXPECT_EQ(extract(0), "AAAAA");
    EXPECT_EQ(extract(1), "CCCCCCCCC");
    expectRemovedByTheBook(1);
    ASSERT_EQ(index.entryDetails.size(), 1u);
    EXPECT_EQ(extract(0), "AAAAA");
}

TEST_F(RemoveEntry, TheOnlyEntryLeavesNoRows) {
    load();
    ASSERT_EQ(add("only", "0123456789"), AppendResult::Appended);
    const std::uint64_t end = index.workingCopyLength;
    expectRemovedByTheBook(0);
    EXPECT_EQ(index.entryCount, 0u);
    EXPECT_EQ(index.indexOffset, end - 10);
    EXPECT_TRUE(index.indexRows.empty());
}

TEST_F(RemoveEntry, LongRegionNotAMultipleOfTheBlockAfterAppendAndRename) {
    load();
    const std::string big = patternBytes(2 * MiB + 777, 5);
    ASSERT_EQ(add("small", "s"), AppendResult::Appended);
    ASSERT_EQ(add("big", big), AppendResult::Appended);
    ASSERT_TRUE(renameEntry(*file, index, 1, makeEntryName("renamed")));
    ASSERT_EQ(add("tail", "the last entry"), AppendResult::Appended);
    expectRemovedByTheBook(0);
    EXPECT_EQ(index.entryDetails[0].name, "renamed");
    EXPECT_EQ(extract(0), big);
    EXPECT_EQ(extract(1), "the last entry");
}

TEST_F(RemoveEntry, CutsTheFileAtTheNewEndPlusAHundredBytes) {
    load();
    ASSERT_EQ(add("keep", "k"), AppendResult::Appended);
    ASSERT_EQ(add("secret", std::string(3000, 'S')), AppendResult::Appended);
    expectRemovedByTheBook(1);
    // The format keeps 100 bytes behind the table; nothing of the removed file stays.
    EXPECT_EQ(index.workingCopyLength, index.indexOffset + 8u + 100u);
    const Bytes bytes = fileBytes();
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 'S'), 0);
    EXPECT_EQ(std::search(bytes.begin(), bytes.end(), std::begin("secret"), std::end("secret") - 1),
              bytes.end());
}

TEST_F(RemoveEntry, TheFileWorksForEveryOperationAfterwards) {
    load();
    ASSERT_EQ(add("a", "AAAA"), AppendResult::Appended);
    ASSERT_EQ(add("b", "BBBB"), AppendResult::Appended);
    ASSERT_EQ(removeEntry(*file, index, 0), RemoveResult::Removed);
    ASSERT_EQ(add("c", "CCCC"), AppendResult::Appended);
    ASSERT_TRUE(renameEntry(*file, index, 0, makeEntryName("b2")));
    EXPECT_EQ(index.entryDetails[0].name, "b2");
    EXPECT_EQ(extract(0), "BBBB");
    EXPECT_EQ(extract(1), "CCCC");
    expectRemovedByTheBook(1);
    EXPECT_EQ(extract(0), "BBBB");
}

TEST_F(RemoveEntry, RefusesAnIndexLongerThanTheFile) {
    load();
    ASSERT_EQ(add("a", "AAAA"), AppendResult::Appended);
    const Bytes before = fileBytes();
    ContainerIndex stale = index;
    stale.workingCopyLength += 1000;
    EXPECT_EQ(removeEntry(*file, stale, 0), RemoveResult::Failed);
    EXPECT_EQ(fileBytes(), before);
}

// A file that cannot be cut, as a file system may refuse it.
class UncuttableFile : public PlainFile {
  public:
    using PlainFile::PlainFile;
    bool resize(std::uint64_t) override { return false; }
};

TEST_F(RemoveEntry, FailedShorteningLeavesAValidContainerWithNothingOfTheEntry) {
    load();
    ASSERT_EQ(add("a", "AAAA"), AppendResult::Appended);
    ASSERT_EQ(add("b", std::string(5000, 'B')), AppendResult::Appended);
    const std::uint64_t oldLength = index.workingCopyLength;
    UncuttableFile uncuttable(::open(path.c_str(), O_RDWR | O_CLOEXEC));
    EXPECT_EQ(removeEntry(uncuttable, index, 1), RemoveResult::Failed);
    // The entry is gone, the file stays long, and what lay past the kept
    // bytes was overwritten.
    expectIndexAsLoaded();
    EXPECT_FALSE(load().damaged);
    ASSERT_EQ(index.indexRows.size(), 1u);
    EXPECT_EQ(extract(0), "AAAA");
    const Bytes bytes = fileBytes();
    ASSERT_EQ(bytes.size(), oldLength);
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 'B'), 0);
    ASSERT_EQ(add("c", "CC"), AppendResult::Appended);
    EXPECT_EQ(extract(1), "CC");
}

// ---------------------------------------------------------------- damaged containers

struct DamagedCase {
    const char* name;
    std::function<void(Bytes&)> damage;
    std::size_t rowsLoaded;
    bool damaged;
    bool versionMismatch;
};

// Three entries, as this program writes them: offsets 12, 75 and 140, table at 207.
Bytes threeEntryContainer() {
    Bytes bytes;
    appendU32(bytes, 3);
    appendU32(bytes, 2);
    appendU32(bytes, 12 + 3 * 58 + 5 + 7 + 9);
    appendRecord(bytes, "a", "AAAAA");
    appendRecord(bytes, "b", "BBBBBBB");
    appendRecord(bytes, "c", "CCCCCCCCC");
    for (std::uint32_t i = 0, offset = 12; i < 3; offset += 58 + 5 + 2 * i, ++i) {
        appendU32(bytes, i);
        appendU32(bytes, offset);
    }
    return bytes;
}

constexpr std::size_t TableAt = 207;
constexpr std::size_t RowOffsetAt(std::size_t row) {
    return TableAt + 8 * row + 4;
}

std::vector<DamagedCase> damagedCases() {
    const auto setU32 = [](std::size_t at, std::uint32_t value) {
        return [=](Bytes& b) { putU32At(b, at, value); };
    };
    return {
        {"Intact", [](Bytes&) {}, 3, false, false},
        {"ZeroLength", [](Bytes& b) { b.clear(); }, 0, true, true},
        {"ElevenBytes", [](Bytes& b) { b.resize(11); }, 0, true, false},
        {"HeaderOnly", [](Bytes& b) { b.resize(12); }, 0, true, false},
        {"HugeCount", setU32(0, 0xFFFFFFFF), 3, true, false},
        {"CountOneMore", setU32(0, 4), 3, true, false},
        {"IndexOffsetBeyondEnd", setU32(8, 0xFFFFFFF0), 0, true, false},
        {"IndexOffsetInsideHeader", setU32(8, 3), 0, true, false},
        {"TableCutShort", [](Bytes& b) { b.resize(b.size() - 3); }, 2, true, false},
        {"SecondOffsetBeyondEnd", setU32(RowOffsetAt(1), 0xFFFFFF00), 1, true, false},
        {"ThirdOffsetAtEnd", setU32(RowOffsetAt(2), 231), 2, true, false},
        {"FirstOffsetInsideHeader", setU32(RowOffsetAt(0), 4), 0, true, false},
        {"SecondOffsetOverlapsFirst", setU32(RowOffsetAt(1), 20), 1, true, false},
        {"OffsetsOutOfOrder", setU32(RowOffsetAt(2), 12), 2, true, false},
        {"SecondSizeBeyondEnd", setU32(75 + 50, 0x7FFFFFFF), 1, true, false},
        {"SecondSizeHighWordSet", setU32(75 + 54, 1), 1, true, false},
        {"ThirdRecordReachesIntoTable", setU32(140 + 50, 10), 2, true, false},
        {"VersionThree", setU32(4, 3), 3, false, true},
        {"VersionOne", setU32(4, 1), 3, false, true},
    };
}

class DamagedContainer : public ::testing::TestWithParam<DamagedCase> {};

TEST_P(DamagedContainer, LoadsOnlyTheRowsBeforeTheFirstBadOne) {
    const DamagedCase& damagedCase = GetParam();
    TempFolder dir;
    Bytes bytes = threeEntryContainer();
    damagedCase.damage(bytes);
    writeBytes(dir / "temp2", bytes);
    const std::unique_ptr<PlainFile> file = openFile(dir / "temp2");
    ASSERT_TRUE(file);

    ContainerIndex index;
    index.indexRows.assign(9, IndexRow{}); // a previous load is replaced as a whole
    const IndexReadResult report = readContainerIndex(*file, index);
    EXPECT_EQ(report.versionMismatch, damagedCase.versionMismatch);
    EXPECT_EQ(report.damaged, damagedCase.damaged);
    ASSERT_EQ(index.indexRows.size(), damagedCase.rowsLoaded);
    ASSERT_EQ(index.entryDetails.size(), damagedCase.rowsLoaded);
    EXPECT_EQ(index.entryCount, damagedCase.rowsLoaded);
    EXPECT_EQ(index.workingCopyLength, bytes.size());

    const std::string contents[] = {"AAAAA", "BBBBBBB", "CCCCCCCCC"};
    for (std::size_t row = 0; row < index.indexRows.size(); ++row) {
        EXPECT_EQ(index.entryDetails[row].name, std::string(1, static_cast<char>('a' + row)));
        std::ostringstream out;
        EXPECT_TRUE(extractEntryContent(*file, index, row, out));
        EXPECT_EQ(out.str(), contents[row]);
    }
}

TEST_P(DamagedContainer, AnAppendAfterTheLoadWritesAConsistentContainer) {
    const DamagedCase& damagedCase = GetParam();
    TempFolder dir;
    Bytes bytes = threeEntryContainer();
    damagedCase.damage(bytes);
    const std::filesystem::path path = dir / "temp2";
    writeBytes(path, bytes);
    const std::unique_ptr<PlainFile> file = openFile(path);
    ContainerIndex index;
    readContainerIndex(*file, index);
    writeFile(dir / "new", "new entry");
    const std::size_t rowsBefore = index.indexRows.size();
    const AppendResult result =
        appendEntry(*file, index, *openFile(dir / "new", O_RDONLY), "new", 9);
    if (result != AppendResult::Appended) {
        // Refused: the file is as it was.
        EXPECT_EQ(readBytes(path), bytes);
        return;
    }
    const ContainerIndex kept = index;
    const IndexReadResult report = readContainerIndex(*file, index);
    EXPECT_FALSE(report.damaged);
    EXPECT_EQ(index, kept);
    ASSERT_EQ(index.indexRows.size(), rowsBefore + 1);
    std::ostringstream out;
    EXPECT_TRUE(extractEntryContent(*file, index, rowsBefore, out));
    EXPECT_EQ(out.str(), "new entry");
}

INSTANTIATE_TEST_SUITE_P(Cases, DamagedContainer, ::testing::ValuesIn(damagedCases()),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

} // namespace
} // namespace quorvane::test
