// The encrypted working copy must behave exactly as a plain file would for
// every read, write, seek and resize the container code makes, while the file
// on disk never shows what it holds.

#include "storage/workingcopy/WorkingCopyFile.h"
#include "storage/workingcopy/XtsSectorCipher.h"

#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <cryptopp/hex.h>
#include <cryptopp/xts.h>

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
