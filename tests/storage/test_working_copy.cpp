// The working copy must behave exactly as a plain file would for every read,
// write and resize the container code makes, whether its bytes come from the
// safe file through the cipher or from its own encrypted sectors, while no
// file on disk ever shows what it holds.

#include "storage/files/UniqueFd.h"
#include "storage/format/SafeCipher.h"
#include "storage/workingcopy/ReadThroughSafe.h"
#include "storage/workingcopy/WorkingCopy.h"
#include "storage/workingcopy/XtsSectorCipher.h"

#include "tests/support/ChildProcess.h"
#include "tests/support/SafeBytes.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <cryptopp/hex.h>
#include <cryptopp/xts.h>

#include <fcntl.h>
#include <functional>
#include <random>
#include <string>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace quorvane {
namespace {

using test::readFile;

std::string readAll(RandomAccessFile& file) {
    std::string bytes(file.length(), '\0');
    EXPECT_TRUE(file.readAt(0, bytes.data(), bytes.size()));
    return bytes;
}

// A plain safe of content at path, opened for reading through.
std::unique_ptr<ReadThroughSafe> readThrough(const std::filesystem::path& path,
                                             const std::string& content) {
    test::writeSafe(path, "pw", content);
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    SafeOpenResult outcome = SafeOpenResult::ReadFailed;
    int error = 0;
    auto safe =
        ReadThroughSafe::open(fd.get(), plainCipherKey(derivePasswordKey("pw")), outcome, error);
    EXPECT_EQ(outcome, SafeOpenResult::Opened);
    return safe;
}

std::string fromHex(const std::string& hex) {
    std::string bytes;
    CryptoPP::StringSource(hex, true, new CryptoPP::HexDecoder(new CryptoPP::StringSink(bytes)));
    return bytes;
}

const unsigned char* bytesOf(const std::string& text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

// The sector loop is ours: it must give what the library's XTS mode gives,
// sector by sector, and the standard's own vector (IEEE 1619, vector 10).
TEST(XtsSectorCipher, AgreesWithTheLibrarysXtsAndTheStandardsVector) {
    const std::string key =
        fromHex("27182818284590452353602874713526624977572470936999595749669676273"
                "141592653589793238462643383279502884197169399375105820974944592");
    std::string unit(512, '\0');
    for (std::size_t i = 0; i < unit.size(); ++i)
        unit[i] = static_cast<char>(i & 0xFF);
    XtsSectorCipher ours;
    ours.setKey(bytesOf(key), 512);
    std::string ciphertext(unit.size(), '\0');
    ours.encrypt(0xFF, 1, bytesOf(unit), reinterpret_cast<unsigned char*>(ciphertext.data()));
    EXPECT_EQ(ciphertext.substr(0, 16), fromHex("1C3B3A102F770386E4836C99E370CF9B"));

    const std::string sectors = test::patternBytes(9 * 4096, 9);
    ours.setKey(bytesOf(key), 4096);
    std::string together(sectors.size(), '\0');
    ours.encrypt(70000, 9, bytesOf(sectors), reinterpret_cast<unsigned char*>(together.data()));
    CryptoPP::XTS_Mode<CryptoPP::AES>::Encryption library;
    const CryptoPP::byte noTweak[16] = {};
    library.SetKeyWithIV(bytesOf(key), key.size(), noTweak, sizeof noTweak);
    std::string oneByOne(sectors.size(), '\0');
    for (std::size_t s = 0; s < 9; ++s) {
        library.Resynchronize(70000 + s, CryptoPP::LITTLE_ENDIAN_ORDER);
        library.ProcessData(reinterpret_cast<CryptoPP::byte*>(oneByOne.data()) + s * 4096,
                            bytesOf(sectors) + s * 4096, 4096);
    }
    EXPECT_TRUE(together == oneByOne);
    ours.decrypt(70000, 9, bytesOf(together), reinterpret_cast<unsigned char*>(together.data()));
    EXPECT_TRUE(together == sectors);
}

// Every range around the edges of cipher blocks (16), sectors (4096) and the
// read-through batch (256 KiB), and the last block, against the whole plaintext.
TEST(ReadThroughSafe, EveryRangeReadsAsTheWholeDecryption) {
    test::TempFolder dir;
    for (const std::size_t length : {std::size_t{1}, std::size_t{15}, std::size_t{16},
                                     std::size_t{17}, std::size_t{4097}, std::size_t{300000}}) {
        const std::string content = test::patternBytes(length, unsigned(length));
        const auto safe = readThrough(dir / "s.cx", content);
        ASSERT_TRUE(safe);
        ASSERT_EQ(safe->length(), length);
        const std::size_t edges[] = {0, 1, 15, 16, 17, 4095, 4096, 4097, 262143, 262144, 262145};
        for (const std::size_t at : edges) {
            for (const std::size_t count : edges) {
                if (at > length || count > length - at)
                    continue;
                std::string got(count, '\0');
                ASSERT_TRUE(safe->readAt(at, got.data(), count)) << at << "+" << count;
                ASSERT_TRUE(got == content.substr(at, count)) << at << "+" << count;
            }
            const std::size_t last = length - std::min(at, length);
            std::string tail(length - last, '\0');
            ASSERT_TRUE(safe->readAt(last, tail.data(), tail.size()));
            ASSERT_TRUE(tail == content.substr(last));
        }
        char byte = 0;
        EXPECT_FALSE(safe->readAt(length, &byte, 1)); // past the end
        EXPECT_EQ(safe->lastError(), 0);
    }
}

// What a whole decryption refuses, reading through refuses too.
TEST(ReadThroughSafe, RefusesWhatDoesNotDecrypt) {
    test::TempFolder dir;
    const std::filesystem::path path = dir / "s.cx";
    struct {
        const char* what;
        std::string bytes;
    } cases[] = {{"empty", ""},
                 {"an IV only", std::string(16, 'i')},
                 {"not whole blocks", std::string(16 + 17, 'x')},
                 {"bad padding", std::string(48, 'x')}};
    for (const auto& c : cases) {
        test::writeFile(path, c.bytes);
        const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        SafeOpenResult outcome = SafeOpenResult::Opened;
        int error = 0;
        EXPECT_FALSE(ReadThroughSafe::open(fd.get(), plainCipherKey(derivePasswordKey("pw")),
                                           outcome, error))
            << c.what;
        EXPECT_EQ(outcome, SafeOpenResult::NotASafe) << c.what;
    }
}

// A program that ignores the lock writes into the safe file in place: every
// later read fails with our reason instead of decrypting its bytes as ours.
TEST(ReadThroughSafe, AChangeInPlaceByAnotherProcessFailsEveryLaterRead) {
    test::TempFolder dir;
    const std::string content = test::patternBytes(10000, 3);
    const std::filesystem::path path = dir / "s.cx";
    const struct {
        const char* what;
        std::function<void()> change;
    } cases[] = {
        {"rewritten, same size",
         [&] { test::writeSafe(path, "pw", test::patternBytes(10000, 4)); }},
        {"cut", [&] { std::filesystem::resize_file(path, 64); }},
        {"touched only", [&] { ::utimensat(AT_FDCWD, path.c_str(), nullptr, 0); }},
    };
    for (const auto& c : cases) {
        const auto safe = readThrough(path, content);
        ASSERT_TRUE(safe);
        std::string got(100, '\0');
        ASSERT_TRUE(safe->readAt(0, got.data(), got.size()));
        struct timespec pause {
            0, 20000000
        };
        ::nanosleep(&pause, nullptr); // time stamps of a coarse clock must move
        ASSERT_EQ(test::runInChild(c.change), 0) << c.what;
        EXPECT_FALSE(safe->readAt(0, got.data(), got.size())) << c.what;
        EXPECT_EQ(safe->lastError(), SafeChangedInPlace) << c.what;
        EXPECT_FALSE(safe->unchanged()) << c.what;
    }
}

// Thousands of random operations on a working copy that reads through a safe,
// each also done on a string; now and then the working copy is "saved": a new
// safe of what it holds becomes its base. After every read, and at the end,
// the two must agree byte for byte.
TEST(WorkingCopy, BehavesAsAPlainFileUnderRandomOperationsAndSaves) {
    test::TempFolder dir;
    std::string model = test::patternBytes(700000, 1);
    WorkingCopy file(dir / "temp2", readThrough(dir / "s0.cx", model));
    std::mt19937_64 random(20261207);
    auto below = [&](std::uint64_t n) { return n == 0 ? 0 : random() % n; };
    for (int step = 0; step < 3000; ++step) {
        const std::uint64_t at = below(model.size() + 70000);
        switch (below(6)) {
        case 0:
        case 1: { // write, sometimes past the end (the gap reads as zeros)
            const std::string bytes = test::patternBytes(1 + below(300000), unsigned(step));
            if (at > model.size())
                model.resize(at, '\0');
            model.replace(at, std::min(bytes.size(), model.size() - at), bytes);
            ASSERT_TRUE(file.writeAt(at, bytes.data(), bytes.size())) << "step " << step;
            break;
        }
        case 2: { // read, also across the end
            const std::size_t wanted = below(200000);
            std::string got(wanted, '\0');
            const bool inside = at <= model.size() && wanted <= model.size() - at;
            ASSERT_EQ(file.readAt(at, got.data(), wanted), inside) << "step " << step;
            if (inside) {
                ASSERT_TRUE(got == model.substr(at, wanted)) << "step " << step;
            }
            break;
        }
        case 3: // resize, mostly shrinking
            model.resize(below(model.size() + 10000), '\0');
            ASSERT_TRUE(file.resize(model.size())) << "step " << step;
            break;
        case 4:
            if (below(40) == 0 && !model.empty()) { // a save
                const auto path = dir / ("s" + std::to_string(step) + ".cx");
                file.rebase(readThrough(path, readAll(file)));
                ASSERT_FALSE(file.hasSectorFile());
            }
            break;
        default:
            ASSERT_TRUE(file.sync());
        }
        ASSERT_EQ(file.length(), model.size()) << "step " << step;
    }
    EXPECT_TRUE(readAll(file) == model);
}

// What goes in is never to be found in the sector file, however it is written.
TEST(WorkingCopy, TheFileOnDiskShowsNothingOfWhatItHolds) {
    test::TempFolder dir;
    const std::string marker = "quorvane-marker-" + std::string(20, 'M');
    const std::string erased(4096, 'A');
    WorkingCopy file(dir / "temp2");
    for (int copy = 0; copy < 200; ++copy) {
        const std::string piece = marker + test::patternBytes(5000, unsigned(copy)) + erased;
        ASSERT_TRUE(file.writeAt(file.length(), piece.data(), piece.size()));
    }
    ASSERT_TRUE(file.resize(file.length() / 2));
    ASSERT_TRUE(file.sync());
    const std::string raw = readFile(dir / "temp2");
    EXPECT_GE(raw.size(), file.length());
    EXPECT_EQ(raw.find(marker), std::string::npos);
    EXPECT_EQ(raw.find(erased.substr(0, 64)), std::string::npos);
    EXPECT_NE(readAll(file).find(marker), std::string::npos);
    file.discard();
    EXPECT_FALSE(std::filesystem::exists(dir / "temp2"));
}

// Reading through a safe writes nothing: the sector file is made at the first write.
TEST(WorkingCopy, ReadingThroughASafeLeavesNoFile) {
    test::TempFolder dir;
    WorkingCopy file(dir / "temp2", readThrough(dir / "s.cx", test::patternBytes(9000, 2)));
    EXPECT_EQ(readAll(file), test::patternBytes(9000, 2));
    EXPECT_FALSE(std::filesystem::exists(dir / "temp2"));
    ASSERT_TRUE(file.writeAt(4095, "x", 1));
    EXPECT_TRUE(std::filesystem::exists(dir / "temp2"));
    EXPECT_EQ(std::filesystem::file_size(dir / "temp2"), 4096u);
}

} // namespace
} // namespace quorvane
