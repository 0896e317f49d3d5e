// Arbitrary bytes as a working copy: loading must stay inside the file, every
// listed row must extract, and a rename, a removal and an append on what was
// loaded must each leave a container that loads with the rows they promise.

#include "fuzz/FuzzScratch.h"
#include "storage/format/Container.h"
#include "storage/workingcopy/PlainFile.h"

#include <fcntl.h>
#include <memory>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace quorvane;
using namespace quorvane::fuzz;

namespace {

const std::string AddedContent = "an added entry";

std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The index an operation kept in step must be what a fresh load gives.
void checkKeptIndex(RandomAccessFile& stream, const ContainerIndex& kept) {
    ContainerIndex fresh;
    readContainerIndex(stream, fresh);
    check(fresh == kept, "the kept index differs from a fresh load");
}

IndexReadResult loadChecked(RandomAccessFile& stream, ContainerIndex& index) {
    const IndexReadResult report = readContainerIndex(stream, index);
    check(index.indexRows.size() == index.entryDetails.size(), "rows and details differ");
    check(index.entryCount == index.indexRows.size(), "count differs from the rows loaded");
    for (std::size_t row = 0; row < index.indexRows.size(); ++row) {
        const std::uint64_t end = std::uint64_t{index.indexRows[row].entryOffset} +
                                  EntryHeaderSize + index.entryDetails[row].size;
        check(end <= index.workingCopyLength, "a listed entry reaches past the end");
        check(index.entryDetails[row].name.size() <= EntryNameSize, "name longer than its field");
    }
    return report;
}

std::vector<std::string> extractAll(RandomAccessFile& stream, const ContainerIndex& index) {
    std::vector<std::string> contents;
    for (std::size_t row = 0; row < index.indexRows.size(); ++row) {
        std::ostringstream out;
        check(extractEntryContent(stream, index, row, out), "a listed entry does not extract");
        contents.push_back(out.str());
    }
    NullStream sink;
    check(!extractEntryContent(stream, index, index.indexRows.size(), sink), "row past the end");
    return contents;
}

void renameFirst(RandomAccessFile& stream, ContainerIndex& index) {
    const std::size_t rows = index.indexRows.size();
    check(renameEntry(stream, index, 0, makeEntryName("renamed")), "rename failed");
    checkKeptIndex(stream, index);
    loadChecked(stream, index);
    check(index.indexRows.size() == rows, "rename changed the rows");
    check(index.entryDetails[0].name == "renamed", "rename did not take");
}

void removeOne(RandomAccessFile& stream, ContainerIndex& index, std::size_t row) {
    std::vector<std::string> contents = extractAll(stream, index);
    check(removeEntry(stream, index, row) == RemoveResult::Removed, "remove failed");
    checkKeptIndex(stream, index);
    const IndexReadResult report = loadChecked(stream, index);
    check(!report.damaged, "remove left a damaged container");
    contents.erase(contents.begin() + static_cast<std::ptrdiff_t>(row));
    check(extractAll(stream, index) == contents, "remove changed other entries");
}

void appendOne(RandomAccessFile& stream, ContainerIndex& index, const std::filesystem::path& path) {
    const std::filesystem::path source = scratchFolder() / "source";
    writeFile(source, reinterpret_cast<const std::uint8_t*>(AddedContent.data()),
              AddedContent.size());
    const std::string before = fileText(path);
    const std::size_t rows = index.indexRows.size();
    int error = 0;
    const std::unique_ptr<PlainFile> sourceFile = PlainFile::open(source, O_RDONLY, error);
    check(sourceFile != nullptr, "cannot open the source");
    const ContainerIndex old = index;
    const AppendResult result =
        appendEntry(stream, index, *sourceFile, "added", AddedContent.size());
    if (result != AppendResult::Appended) {
        check(fileText(path) == before, "a refused append changed the container");
        check(index == old, "a refused append changed the index");
        return;
    }
    checkKeptIndex(stream, index);
    const IndexReadResult report = loadChecked(stream, index);
    check(!report.damaged, "append left a damaged container");
    check(index.indexRows.size() == rows + 1, "append did not add one row");
    check(extractAll(stream, index).back() == AddedContent, "appended content differs");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path path = scratchFolder() / "temp2";
    writeFile(path, data, size);
    int error = 0;
    const std::unique_ptr<PlainFile> file = PlainFile::open(path, O_RDWR, error);
    check(file != nullptr, "cannot open the working copy");
    RandomAccessFile& stream = *file;

    ContainerIndex index;
    loadChecked(stream, index);
    check(index.workingCopyLength == size, "length differs from the file");
    extractAll(stream, index);

    if (!index.indexRows.empty()) {
        renameFirst(stream, index);
        const std::size_t row = size > 0 ? data[size - 1] % index.indexRows.size() : 0;
        removeOne(stream, index, row);
    }
    appendOne(stream, index, path);
    return 0;
}
