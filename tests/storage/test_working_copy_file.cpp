// The encrypted working copy must behave exactly as a plain file would for
// every read, write, seek and resize the container code makes, while the file
// on disk never shows what it holds.

#include "storage/WorkingCopyFile.h"

#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace quorvane {
namespace {

using test::readFile;

std::string readAll(WorkingCopyFile& file) {
    file.clear();
    file.seekg(0);
    std::string bytes(file.length(), '\0');
    file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    EXPECT_EQ(static_cast<std::size_t>(file.gcount()), bytes.size());
    file.clear();
    return bytes;
}

// Thousands of random operations, each also done on a string: afterwards, and
// after every read, the two must agree byte for byte.
TEST(WorkingCopyFile, BehavesAsAPlainFileUnderRandomOperations) {
    test::TempFolder dir;
    WorkingCopyFile file;
    ASSERT_TRUE(file.create(dir / "temp2"));
    std::string model;
    std::mt19937_64 random(20261207);
    auto below = [&](std::uint64_t n) { return n == 0 ? 0 : random() % n; };
    for (int step = 0; step < 4000; ++step) {
        const std::uint64_t at = below(model.size() + 70000);
        switch (below(5)) {
        case 0:
        case 1: { // write, sometimes past the end (the gap reads as zeros)
            const std::string bytes = test::patternBytes(1 + below(300000), unsigned(step));
            if (at > model.size())
                model.resize(at, '\0');
            model.replace(at, std::min(bytes.size(), model.size() - at), bytes);
            file.clear();
            file.seekp(static_cast<std::streamoff>(at));
            file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            ASSERT_TRUE(file.good()) << "step " << step;
            break;
        }
        case 2: { // read, also across the end
            const std::size_t wanted = below(200000);
            std::string got(wanted, '\0');
            file.clear();
            file.seekg(static_cast<std::streamoff>(at));
            file.read(got.data(), static_cast<std::streamsize>(wanted));
            got.resize(static_cast<std::size_t>(file.gcount()));
            const std::string expected = at >= model.size() ? "" : model.substr(at, wanted);
            ASSERT_TRUE(got == expected) << "step " << step;
            break;
        }
        case 3: // resize, mostly shrinking
            model.resize(below(model.size() + 10000), '\0');
            ASSERT_TRUE(file.resize(model.size())) << "step " << step;
            break;
        default:
            file.clear();
            ASSERT_TRUE(file.flush().good());
        }
        ASSERT_EQ(file.length(), model.size()) << "step " << step;
    }
    EXPECT_TRUE(readAll(file) == model);
}

// What goes in is never to be found in the file, however it is written.
TEST(WorkingCopyFile, TheFileOnDiskShowsNothingOfWhatItHolds) {
    test::TempFolder dir;
    const std::string marker = "quorvane-marker-" + std::string(20, 'M');
    const std::string erased(4096, 'A');
    WorkingCopyFile file;
    ASSERT_TRUE(file.create(dir / "temp2"));
    for (int copy = 0; copy < 200; ++copy)
        file << marker << test::patternBytes(5000, unsigned(copy)) << erased;
    file.resize(file.length() / 2);
    ASSERT_TRUE(file.flush().good());
    const std::string raw = readFile(dir / "temp2");
    EXPECT_GT(raw.size(), file.length());
    EXPECT_EQ(raw.find(marker), std::string::npos);
    EXPECT_EQ(raw.find(erased.substr(0, 64)), std::string::npos);
    EXPECT_NE(readAll(file).find(marker), std::string::npos);
}

} // namespace
} // namespace quorvane
