#include "fuzz/FuzzScratch.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace quorvane::fuzz {

namespace {

std::filesystem::path makeScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qv-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        fail("cannot create a scratch folder");
    return pattern;
}

// Kept on the heap and never destroyed, so that it is still there when the
// exit handler removes the folder.
const std::filesystem::path* scratchPath = nullptr;

void removeScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(*scratchPath, ignored);
}

} // namespace

const std::filesystem::path& scratchFolder() {
    if (scratchPath == nullptr) {
        scratchPath = new std::filesystem::path(makeScratchFolder());
        std::atexit(removeScratchFolder);
    }
    return *scratchPath;
}

void writeFile(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    check(static_cast<bool>(out), "cannot write the input file");
}

void fail(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

} // namespace quorvane::fuzz
