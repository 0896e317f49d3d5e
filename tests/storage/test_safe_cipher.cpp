#include "storage/format/SafeCipher.h"

#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <cryptopp/aes.h>
#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <cryptopp/modes.h>

#include <sys/stat.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace quorvane {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t MiB = 1u << 20;
const std::string PaddingText = "StreamTransformationFilter: invalid PKCS #7 block padding found";
const std::string LengthText =
    "StreamTransformationFilter: ciphertext length is not a multiple of block size";

// The container of a new, empty safe.
const std::string EmptyContainer("\x00\x00\x00\x00\x02\x00\x00\x00\x0C\x00\x00\x00\x33\x01\x00\x00",
                                 16);

std::string hexOf(const std::string& bytes) {
    std::string hex;
    CryptoPP::StringSource source(bytes, true,
                                  new CryptoPP::HexEncoder(new CryptoPP::StringSink(hex), true));
    return hex;
}

std::string bytesOfHex(const std::string& hex) {
    std::string bytes;
    CryptoPP::StringSource source(hex, true,
                                  new CryptoPP::HexDecoder(new CryptoPP::StringSink(bytes)));
    return bytes;
}

std::string patternBytes(std::size_t size, unsigned seed = 7) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(generator() & 0xFFu);
    return bytes;
}

const std::string SampleIv = bytesOfHex("000102030405060708090A0B0C0D0E0F");

// The library's own filter pipeline: an independent reference for our
// block-by-block encryption, and (without padding) a way to build ciphertexts
// whose last block carries whatever padding a test wants.
std::string libraryEncrypt(const std::string& plaintext, const std::string& key,
                           const std::string& iv,
                           CryptoPP::BlockPaddingSchemeDef::BlockPaddingScheme padding) {
    CryptoPP::CBC_Mode<CryptoPP::Rijndael>::Encryption cbc;
    cbc.SetKeyWithIV(reinterpret_cast<const CryptoPP::byte*>(key.data()), key.size(),
                     reinterpret_cast<const CryptoPP::byte*>(iv.data()), iv.size());
    std::string ciphertext;
    CryptoPP::StringSource source(plaintext, true,
                                  new CryptoPP::StreamTransformationFilter(
                                      cbc, new CryptoPP::StringSink(ciphertext), padding));
    return ciphertext;
}

std::string referenceEncrypt(const std::string& plaintext, const std::string& key,
                             const std::string& iv) {
    return libraryEncrypt(plaintext, key, iv, CryptoPP::BlockPaddingSchemeDef::DEFAULT_PADDING);
}

std::string encryptUnpadded(const std::string& plaintext, const std::string& key,
                            const std::string& iv) {
    return libraryEncrypt(plaintext, key, iv, CryptoPP::BlockPaddingSchemeDef::NO_PADDING);
}

struct CipherResult {
    bool failed = true;
    std::string message;
    std::string output;
};

// The flag and the text of a routine's answer: the text is left as it was
// when nothing failed.
bool failedWith(const std::optional<Failure>& failure, std::string& message) {
    if (failure)
        message = failure->detail;
    return failure.has_value();
}

CipherResult encryptText(const std::string& plaintext, const std::string& key) {
    std::istringstream in(plaintext);
    std::ostringstream out;
    CipherResult outcome;
    outcome.failed = failedWith(encryptSafe(in, out, key), outcome.message);
    outcome.output = out.str();
    return outcome;
}

CipherResult decryptText(const std::string& safe, const std::string& key) {
    std::istringstream in(safe);
    std::ostringstream out;
    CipherResult outcome;
    outcome.failed = failedWith(decryptSafe(in, out, key), outcome.message);
    outcome.output = out.str();
    return outcome;
}

// A safe with a chosen IV, so that tests that depend on the IV do not depend
// on chance.
std::string safeWithIv(const std::string& plaintext, const std::string& key,
                       const std::string& iv) {
    return iv + referenceEncrypt(plaintext, key, iv);
}

using test::readFile;
using test::writeFile;
using TempDir = test::TempFolder;

// A stream buffer that takes `limit` bytes and then refuses, like a full disk.
class FailingSink : public std::streambuf {
  public:
    explicit FailingSink(std::size_t limit) : limit_(limit) {}
    std::size_t taken() const { return taken_; }

  protected:
    std::streamsize xsputn(const char*, std::streamsize count) override {
        const std::size_t room = limit_ - taken_;
        const std::size_t accepted = std::min(room, static_cast<std::size_t>(count));
        taken_ += accepted;
        return static_cast<std::streamsize>(accepted);
    }
    int_type overflow(int_type ch) override {
        if (taken_ == limit_)
            return traits_type::eof();
        ++taken_;
        return traits_type::not_eof(ch);
    }

  private:
    std::size_t limit_;
    std::size_t taken_ = 0;
};

// A stream buffer that delivers `limit` bytes and then fails like a disk
// read error (the istream turns the exception into its bad bit).
class FailingSource : public std::streambuf {
  public:
    explicit FailingSource(std::size_t limit) : limit_(limit) {}

  protected:
    int_type underflow() override {
        if (delivered_ == limit_)
            throw std::runtime_error("read error");
        current_ = 'x';
        setg(&current_, &current_, &current_ + 1);
        ++delivered_;
        return traits_type::to_int_type(current_);
    }

  private:
    std::size_t limit_;
    std::size_t delivered_ = 0;
    char current_ = 0;
};

// ---------------------------------------------------------------- key and helpers

TEST(PasswordKey, IsTheRawSha256DigestOfEveryByteOfThePassword) {
    EXPECT_EQ(hexOf(derivePasswordKey("")),
              "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855");
    EXPECT_EQ(hexOf(derivePasswordKey("password")),
              "5E884898DA28047151D0E56F8DC6292773603D0D6AABBDD62A11EF721D1542D8");
    EXPECT_NE(derivePasswordKey("Secret"), derivePasswordKey("secret"));
    EXPECT_NE(derivePasswordKey(std::string("ab\0cd", 5)), derivePasswordKey("ab"));
}

TEST(RandomBytes, GivesTheAskedNumberOfFreshBytes) {
    EXPECT_TRUE(randomBytes(0).empty());
    EXPECT_EQ(randomBytes(16).size(), 16u);
    EXPECT_EQ(randomBytes(1000).size(), 1000u);
    EXPECT_NE(randomBytes(16), randomBytes(16));
}

struct HexCase {
    std::string text;
    bool hex;
    std::string decoded; // fromHexIfHex
};

TEST(HexHelpers, FollowTheTable) {
    const std::vector<HexCase> cases = {
        {"", true, ""},
        {"0123456789ABCDEF", true, bytesOfHex("0123456789ABCDEF")},
        {"00FF", true, std::string("\x00\xFF", 2)},
        {"abc", false, "abc"},
        {"00ff", false, "00ff"},
        {"12 34", false, "12 34"},
        {"G0", false, "G0"},
        {std::string("\x01\xAB", 2), false, std::string("\x01\xAB", 2)},
        {"hello", false, "hello"},
    };
    for (const HexCase& c : cases) {
        SCOPED_TRACE("text: " + hexOf(c.text));
        EXPECT_EQ(isHexText(c.text), c.hex);
        EXPECT_EQ(fromHexIfHex(c.text), c.decoded);
    }
}

TEST(HexHelpers, DecodingRoundTripsRawBytes) {
    const std::string raw = patternBytes(64);
    const std::string hex = hexOf(raw);
    EXPECT_EQ(hex.size(), 128u);
    EXPECT_TRUE(isHexText(hex));
    EXPECT_EQ(fromHexIfHex(hex), raw);
}

// ---------------------------------------------------------------- the cipher inside a safe

TEST(SafeCipher, MatchesAKnownVectorWithARawOrAHexKey) {
    // Computed with: openssl enc -aes-256-cbc -K <SHA-256 of "password"> -iv 0001...0F
    const std::string expected = "CE366AABE389249A4BE759E2ED5BB79B7B4E9220B8C78035180800463B5F9F53";
    const std::string key = derivePasswordKey("password");
    for (const std::string& keyForm : {key, hexOf(key)}) {
        const CipherResult plain = decryptText(SampleIv + bytesOfHex(expected), keyForm);
        EXPECT_FALSE(plain.failed) << plain.message;
        EXPECT_EQ(plain.output, EmptyContainer);
    }
}

TEST(SafeCipher, MatchesTheLibraryPipelineAcrossBlockBoundaries) {
    const std::string key = derivePasswordKey("boundaries");
    for (std::size_t size :
         {std::size_t{0}, std::size_t{1}, std::size_t{15}, std::size_t{16}, std::size_t{17},
          std::size_t{31}, std::size_t{32}, MiB - 1, MiB, MiB + 1, 2 * MiB + 16}) {
        SCOPED_TRACE("size " + std::to_string(size));
        const std::string plaintext = patternBytes(size);
        const CipherResult safe = encryptText(plaintext, key);
        ASSERT_FALSE(safe.failed) << safe.message;
        const std::string iv = safe.output.substr(0, 16);
        ASSERT_EQ(safe.output.substr(16), referenceEncrypt(plaintext, key, iv));
        EXPECT_EQ(safe.output.size(), 16 + (size / 16 + 1) * 16);

        const CipherResult plain = decryptText(safe.output, key);
        ASSERT_FALSE(plain.failed) << plain.message;
        EXPECT_TRUE(plain.output == plaintext);
    }
}

struct PaddingCase {
    std::string lastBytes; // the end of the final plaintext block before encryption
    bool accepted;
    std::size_t stripped;
};

TEST(SafeCipher, ChecksEveryByteOfThePadding) {
    const std::string key = derivePasswordKey("padding");
    const std::vector<PaddingCase> cases = {
        {"\x01", true, 1},
        {"\x02\x02", true, 2},
        {std::string(16, '\x10'), true, 16},
        {"\x03\x02\x02", true, 2},
        {"\x03\x03", false, 0},                 // fewer than n bytes of value n
        {"\x01\x02\x02\x01\x03\x02", false, 0}, // last n bytes not all equal
        {std::string("\x00", 1), false, 0},     // zero is no padding length
        {"\x11", false, 0},                     // longer than a block
        {std::string(15, '\x10') + "\x11", false, 0},
    };
    for (const PaddingCase& c : cases) {
        SCOPED_TRACE("last bytes " + hexOf(c.lastBytes));
        std::string plaintext = patternBytes(48, 3);
        plaintext.replace(plaintext.size() - c.lastBytes.size(), c.lastBytes.size(), c.lastBytes);
        std::istringstream in(SampleIv + encryptUnpadded(plaintext, key, SampleIv));
        std::ostringstream out;
        bool failed = false;
        std::string message = "before";
        failed = failedWith(decryptSafe(in, out, key), message);
        EXPECT_EQ(failed, !c.accepted);
        if (c.accepted) {
            EXPECT_EQ(message, "before");
            EXPECT_EQ(out.str(), plaintext.substr(0, plaintext.size() - c.stripped));
        } else {
            EXPECT_EQ(message, PaddingText);
        }
    }
}

TEST(SafeCipher, RefusesCiphertextThatIsNotWholeBlocks) {
    const std::string key = derivePasswordKey("length");
    const std::string ciphertext = referenceEncrypt(patternBytes(40), key, SampleIv);
    for (std::size_t length : {std::size_t{1}, std::size_t{15}, std::size_t{17}, std::size_t{33},
                               ciphertext.size() - 1}) {
        SCOPED_TRACE("length " + std::to_string(length));
        const CipherResult plain = decryptText(SampleIv + ciphertext.substr(0, length), key);
        EXPECT_TRUE(plain.failed);
        EXPECT_EQ(plain.message, LengthText);
    }
}

TEST(SafeCipher, ReportsTheLibrarysTextForABadKeyLength) {
    const CipherResult safe = encryptText("data", "short key");
    EXPECT_TRUE(safe.failed);
    EXPECT_NE(safe.message.find("is not a valid key length"), std::string::npos) << safe.message;
}

// ---------------------------------------------------------------- safes

TEST(SafeEncryption, EmptyContainerGivesA48ByteSafeThatDecryptsBack) {
    for (const char* password : {"password", ""}) {
        SCOPED_TRACE(password);
        const std::string key = derivePasswordKey(password);
        const CipherResult safe = encryptText(EmptyContainer, key);
        ASSERT_FALSE(safe.failed) << safe.message;
        ASSERT_EQ(safe.output.size(), 48u);
        const std::string iv = safe.output.substr(0, 16);
        EXPECT_EQ(safe.output.substr(16), referenceEncrypt(EmptyContainer, key, iv));

        const CipherResult plain = decryptText(safe.output, key);
        EXPECT_FALSE(plain.failed) << plain.message;
        EXPECT_EQ(plain.output, EmptyContainer);
    }
}

TEST(SafeEncryption, KnownSafeBytesDecrypt) {
    const std::string safe =
        SampleIv + bytesOfHex("CE366AABE389249A4BE759E2ED5BB79B7B4E9220B8C78035180800463B5F9F53");
    const CipherResult plain = decryptText(safe, derivePasswordKey("password"));
    EXPECT_FALSE(plain.failed) << plain.message;
    EXPECT_EQ(plain.output, EmptyContainer);
}

TEST(SafeEncryption, EveryEncryptionHasItsOwnIv) {
    const std::string key = derivePasswordKey("twice");
    const CipherResult first = encryptText(EmptyContainer, key);
    const CipherResult second = encryptText(EmptyContainer, key);
    ASSERT_FALSE(first.failed);
    ASSERT_FALSE(second.failed);
    EXPECT_NE(first.output.substr(0, 16), second.output.substr(0, 16));
    EXPECT_NE(first.output, second.output);
    EXPECT_EQ(decryptText(first.output, key).output, EmptyContainer);
    EXPECT_EQ(decryptText(second.output, key).output, EmptyContainer);
}

// The check a save makes before its new safe file may replace the old one.
TEST(SafeVerification, OnlyTheVeryPlaintextPasses) {
    const std::string key = derivePasswordKey("verify");
    const std::string plaintext = test::patternBytes(3 * StreamBlockSize + 5, 4);
    const std::string safe = encryptText(plaintext, key).output;
    std::string flipped = plaintext;
    flipped[2 * StreamBlockSize + 1] ^= 1;
    const std::string torn = safe.substr(0, safe.size() - 16);
    const struct {
        const char* what;
        std::string safe;
        std::string reference;
        std::string key;
        bool passes;
    } cases[] = {
        {"the same bytes", safe, plaintext, key, true},
        {"one bit differs", safe, flipped, key, false},
        {"the safe holds less", safe, plaintext + "x", key, false},
        {"the safe holds more", safe, plaintext.substr(0, plaintext.size() - 1), key, false},
        {"a torn safe", torn, plaintext, key, false},
        {"another key", safe, plaintext, derivePasswordKey("other"), false},
    };
    for (const auto& check : cases) {
        SCOPED_TRACE(check.what);
        std::istringstream safeIn(check.safe);
        std::istringstream reference(check.reference);
        const std::optional<Failure> failure = safeDecryptsTo(safeIn, reference, check.key);
        EXPECT_EQ(!failure, check.passes);
        EXPECT_TRUE(check.passes || !failure->detail.empty());
    }
}

// A refusal by the cipher is no failure of the system: no errno goes with it.
TEST(SafeEncryption, SuccessGivesNoFailureAndARefusalNoSystemError) {
    std::istringstream in(EmptyContainer);
    std::ostringstream out;
    EXPECT_EQ(encryptSafe(in, out, derivePasswordKey("x")), std::nullopt);
    std::istringstream back(out.str());
    std::ostringstream plain;
    EXPECT_EQ(decryptSafe(back, plain, derivePasswordKey("x")), std::nullopt);
    std::istringstream torn(out.str().substr(0, 40));
    const std::optional<Failure> refused = decryptSafe(torn, plain, derivePasswordKey("x"));
    ASSERT_TRUE(refused.has_value());
    EXPECT_EQ(refused->error, 0);
    EXPECT_EQ(refused->detail, LengthText);
}

TEST(SafeStreams, ThatAreNotOpenAreRefusedInTheProgramsWords) {
    std::ifstream missing("/nonexistent/quorvane/input", std::ios::binary);
    std::ostringstream out;
    bool failed = false;
    std::string message;
    failed = failedWith(encryptSafe(missing, out, derivePasswordKey("x")), message);
    EXPECT_TRUE(failed);
    EXPECT_TRUE(out.str().empty()) << "an unreadable container must not become an empty safe";

    std::istringstream in(EmptyContainer);
    std::ofstream nowhere("/nonexistent/quorvane/output", std::ios::binary);
    failed = false;
    failed = failedWith(encryptSafe(in, nowhere, derivePasswordKey("x")), message);
    EXPECT_TRUE(failed);
    EXPECT_EQ(message, "Couldn't open desired output file");

    failed = false;
    failed = failedWith(decryptSafe(missing, out, derivePasswordKey("x")), message);
    EXPECT_TRUE(failed);
    EXPECT_EQ(message, "Couldn't open encrypted input file");
}

// A sink that refuses after `limit` bytes, like a full disk, in each direction.
TEST(SafeStreams, AWriteThatFailsIsReported) {
    const std::string key = derivePasswordKey("full");
    const std::string container = patternBytes(3 * MiB);
    const std::string safe = safeWithIv(container, key, SampleIv);
    for (std::size_t limit : {std::size_t{0}, std::size_t{10}, std::size_t{16}, std::size_t{100},
                              MiB, MiB + 20, 3 * MiB - 1}) {
        for (const bool encrypting : {true, false}) {
            SCOPED_TRACE((encrypting ? "encrypting, limit " : "decrypting, limit ") +
                         std::to_string(limit));
            std::istringstream in(encrypting ? container : safe);
            FailingSink sink(limit);
            std::ostream out(&sink);
            bool failed = false;
            std::string message;
            if (encrypting)
                failed = failedWith(encryptSafe(in, out, key), message);
            else
                failed = failedWith(decryptSafe(in, out, key), message);
            EXPECT_TRUE(failed);
            EXPECT_FALSE(message.empty());
        }
    }
}

TEST(SafeEncryption, AReadThatFailsIsReported) {
    for (std::size_t limit : {std::size_t{0}, std::size_t{100}, MiB + 3}) {
        SCOPED_TRACE("limit " + std::to_string(limit));
        FailingSource source(limit);
        std::istream in(&source);
        std::ostringstream out;
        bool failed = false;
        std::string message;
        failed = failedWith(encryptSafe(in, out, derivePasswordKey("broken")), message);
        EXPECT_TRUE(failed) << "a half-read container must not become a good safe";
        EXPECT_FALSE(message.empty());
    }
}

TEST(SafeEncryption, SafeRoutinesTakeTheWholeStreamWhereverItStands) {
    const std::string key = derivePasswordKey("whole");
    const std::string container = patternBytes(100);
    std::istringstream in(container);
    in.seekg(0, std::ios::end);
    std::ostringstream out;
    bool failed = true;
    std::string message;
    failed = failedWith(encryptSafe(in, out, key), message);
    ASSERT_FALSE(failed) << message;

    std::istringstream safe(out.str());
    safe.seekg(40);
    std::ostringstream plain;
    failed = true;
    failed = failedWith(decryptSafe(safe, plain, key), message);
    ASSERT_FALSE(failed) << message;
    EXPECT_EQ(plain.str(), container);
}

TEST(SafeDecryption, WrongPasswordFailsOnThePadding) {
    // A fixed IV keeps this from depending on chance: under a wrong key the
    // padding is only valid for about one IV in 256.
    const std::string safe = safeWithIv(EmptyContainer, derivePasswordKey("right"), SampleIv);
    for (const char* wrong : {"wrong", "Right", "RIGHT", ""}) {
        SCOPED_TRACE(wrong);
        const CipherResult plain = decryptText(safe, derivePasswordKey(wrong));
        EXPECT_TRUE(plain.failed);
        EXPECT_EQ(plain.message, PaddingText);
    }
    EXPECT_FALSE(decryptText(safe, derivePasswordKey("right")).failed);
}

// Safes too short to hold a cipher block after the IV, and ciphertexts torn
// off or lengthened inside a block, fail before writing anything.
TEST(SafeDecryption, SafesThatAreNotIvAndWholeBlocksFail) {
    const std::string key = derivePasswordKey("torn");
    const std::string safe = safeWithIv(patternBytes(100), key, SampleIv);
    std::vector<std::string> damaged;
    for (std::size_t size = 0; size <= 16; ++size)
        damaged.push_back(patternBytes(size));
    for (std::size_t cut : {std::size_t{1}, std::size_t{5}, std::size_t{15}})
        damaged.push_back(safe.substr(0, safe.size() - cut));
    damaged.push_back(safe + "abc");
    for (const std::string& bytes : damaged) {
        SCOPED_TRACE("size " + std::to_string(bytes.size()));
        const CipherResult plain = decryptText(bytes, key);
        EXPECT_TRUE(plain.failed);
        EXPECT_TRUE(plain.output.empty());
        if (bytes.size() > 16) {
            EXPECT_EQ(plain.message, LengthText);
        } else {
            EXPECT_FALSE(plain.message.empty());
        }
    }
}

TEST(SafeFiles, RoundTripAcrossBlockAndBufferBoundaries) {
    TempDir dir;
    const std::string key = derivePasswordKey("sizes");
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{15}, std::size_t{16},
                             std::size_t{17}, MiB - 1, MiB, MiB + 1, 3 * MiB + 5}) {
        SCOPED_TRACE("size " + std::to_string(size));
        const std::string container = patternBytes(size, static_cast<unsigned>(size));
        writeFile(dir / "container", container);
        {
            std::ifstream in(dir / "container", std::ios::binary);
            std::ofstream out(dir / "safe.cx", std::ios::binary | std::ios::trunc);
            bool failed = true;
            std::string message;
            failed = failedWith(encryptSafe(in, out, key), message);
            ASSERT_FALSE(failed) << message;
        }
        EXPECT_EQ(fs::file_size(dir / "safe.cx"), 16 + (size / 16 + 1) * 16);
        const CipherResult plain = decryptText(readFile(dir / "safe.cx"), key);
        ASSERT_FALSE(plain.failed) << plain.message;
        EXPECT_TRUE(plain.output == container);
    }
}

TEST(SafeFiles, ProgressRunsUpToTheTotal) {
    TempDir dir;
    const std::string key = derivePasswordKey("progress");
    writeFile(dir / "container", patternBytes(3 * MiB + 5));
    std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
    const ProgressCallback record = [&](std::uint64_t done, std::uint64_t total) {
        calls.emplace_back(done, total);
    };
    {
        std::ifstream in(dir / "container", std::ios::binary);
        std::ofstream out(dir / "safe.cx", std::ios::binary | std::ios::trunc);
        bool failed = true;
        std::string message;
        failed = failedWith(encryptSafe(in, out, key, record), message);
        ASSERT_FALSE(failed);
    }
    ASSERT_GE(calls.size(), 4u);
    for (std::size_t i = 1; i < calls.size(); ++i)
        EXPECT_GT(calls[i].first, calls[i - 1].first);
    EXPECT_EQ(calls.back(), std::make_pair(std::uint64_t{3 * MiB + 5}, std::uint64_t{3 * MiB + 5}));

    calls.clear();
    std::ifstream safe(dir / "safe.cx", std::ios::binary);
    std::ostringstream plain;
    bool failed = true;
    std::string message;
    failed = failedWith(decryptSafe(safe, plain, key, record), message);
    ASSERT_FALSE(failed);
    ASSERT_GE(calls.size(), 4u);
    const std::uint64_t ciphertext = fs::file_size(dir / "safe.cx") - 16;
    EXPECT_EQ(calls.back(), std::make_pair(ciphertext, ciphertext));
}

// ---------------------------------------------------------------- openssl

class OpensslInterop : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(test::runProgram({"openssl", "version"}), 0) << "the openssl command is needed";
    }
    TempDir dir;
};

TEST_F(OpensslInterop, OurSafeDecryptsWithOpenssl) {
    const std::string key = derivePasswordKey("interop password");
    for (std::size_t size : {std::size_t{0}, std::size_t{16}, std::size_t{1000}, 3 * MiB + 5}) {
        SCOPED_TRACE("size " + std::to_string(size));
        const std::string container = patternBytes(size, 11);
        const CipherResult safe = encryptText(container, key);
        ASSERT_FALSE(safe.failed);
        writeFile(dir / "ciphertext", safe.output.substr(16));
        ASSERT_TRUE(test::opensslCbc(true, key, safe.output.substr(0, 16), dir / "ciphertext",
                                     dir / "plain"));
        EXPECT_TRUE(readFile(dir / "plain") == container);
    }
}

TEST_F(OpensslInterop, OpensslOutputOpensAsASafe) {
    const std::string key = derivePasswordKey("from openssl");
    for (std::size_t size : {std::size_t{0}, std::size_t{16}, std::size_t{1000}, 3 * MiB + 5}) {
        SCOPED_TRACE("size " + std::to_string(size));
        const std::string container = patternBytes(size, 13);
        const std::string iv = randomBytes(16);
        writeFile(dir / "container", container);
        ASSERT_TRUE(test::opensslCbc(false, key, iv, dir / "container", dir / "ciphertext"));
        const CipherResult plain = decryptText(iv + readFile(dir / "ciphertext"), key);
        ASSERT_FALSE(plain.failed) << plain.message;
        EXPECT_TRUE(plain.output == container);
    }
}

} // namespace
} // namespace quorvane
