#include "storage/format/SafeCipher.h"

#include "storage/format/CipherTexts.h"

#include "storage/format/StreamPosition.h"
#include "storage/workingcopy/BackgroundStreams.h"

#include <cryptopp/aes.h>
#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <cryptopp/modes.h>
#include <cryptopp/osrng.h>
#include <cryptopp/sha.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

namespace quorvane {
namespace {

using Byte = CryptoPP::byte;
using Encryption = CryptoPP::CBC_Mode<CryptoPP::Rijndael>::Encryption;
using Decryption = CryptoPP::CBC_Mode<CryptoPP::Rijndael>::Decryption;

constexpr std::size_t CipherBlock = CryptoPP::Rijndael::BLOCKSIZE;
constexpr std::size_t IvSize = CipherBlock;
static_assert(StreamBlockSize % CipherBlock == 0, "stream blocks must hold whole cipher blocks");

using namespace cipher_text;

const Byte* bytesOf(const std::string& text) {
    return reinterpret_cast<const Byte*>(text.data());
}

// A failure in this format's own words.
Failure failure(const char* text) {
    return Failure{0, text};
}

// Runs one cipher routine so that nothing escapes it: the step returns a
// failure of its own, or the library (or the allocator) throws and its text
// becomes the failure's.
template <typename Step> std::optional<Failure> runReported(Step&& step) {
    try {
        return step();
    } catch (const std::exception& error) {
        return Failure{0, error.what()};
    } catch (...) {
        return failure(UnknownFailure);
    }
}

// Progress that is only passed on when the total is known.
struct ProgressMeter {
    const ProgressCallback& callback;
    std::optional<std::uint64_t> total;
    std::uint64_t done = 0;

    void advance(std::size_t bytes) {
        done += bytes;
        if (total)
            reportProgress(callback, done, *total);
    }
};

struct ReadResult {
    std::size_t count = 0;
    bool atEnd = false;
    bool broken = false;
};

ReadResult readBlock(std::istream& in, Byte* to, std::size_t wanted) {
    in.read(reinterpret_cast<char*>(to), static_cast<std::streamsize>(wanted));
    ReadResult result;
    result.count = static_cast<std::size_t>(in.gcount());
    result.atEnd = in.eof();
    result.broken = in.bad() || (result.count < wanted && !result.atEnd);
    return result;
}

bool writeBlock(std::ostream& out, const Byte* from, std::size_t count) {
    out.write(reinterpret_cast<const char*>(from), static_cast<std::streamsize>(count));
    return static_cast<bool>(out);
}

// Encrypts everything left in `in`. Whole blocks go straight through the CBC
// object: the library's file pipeline would make a system call per KiB, which
// is several times slower on a large safe. The PKCS #7 padding (1 to 16 bytes,
// each holding the count) is added to the last block by hand, exactly as the
// library's filter pads.
std::optional<Failure> encryptBlocks(std::istream& in, std::ostream& out, Encryption& cbc,
                                     ProgressMeter& meter) {
    std::vector<Byte> buffer(StreamBlockSize + CipherBlock);
    for (;;) {
        const ReadResult read = readBlock(in, buffer.data(), StreamBlockSize);
        if (read.broken)
            return failure(ReadFailed);
        std::size_t length = read.count;
        if (read.atEnd) {
            const std::size_t padding = CipherBlock - length % CipherBlock;
            std::fill_n(buffer.data() + length, padding, static_cast<Byte>(padding));
            length += padding;
        }
        cbc.ProcessData(buffer.data(), buffer.data(), length);
        if (!writeBlock(out, buffer.data(), length))
            return failure(WriteFailed);
        meter.advance(read.count);
        if (read.atEnd)
            return std::nullopt;
    }
}

// Decrypts the held-back end of the ciphertext through the library's own
// filter, which checks and strips the padding and rejects a length that is not
// a whole number of blocks, with its own texts (it throws on a bad one).
std::optional<Failure> decryptLastBlock(Decryption& cbc, const Byte* tail, std::size_t length,
                                        std::ostream& out) {
    std::string plaintext;
    CryptoPP::StreamTransformationFilter filter(cbc, new CryptoPP::StringSink(plaintext));
    filter.Put(tail, length);
    filter.MessageEnd();
    if (!writeBlock(out, bytesOf(plaintext), plaintext.size()))
        return failure(WriteFailed);
    return std::nullopt;
}

// How much of the ciphertext's end the padding check needs: the last whole
// block, or, when the length is not a multiple of the block size, the odd bytes
// (which the filter then refuses).
std::size_t lastBlockLength(std::size_t length) {
    const std::size_t odd = length % CipherBlock;
    if (odd != 0)
        return odd;
    return std::min(length, CipherBlock);
}

// Decrypts everything left in `in`, holding back the last block until the end
// of the input so that its padding can be checked and removed.
std::optional<Failure> decryptBlocks(std::istream& in, std::ostream& out, Decryption& cbc,
                                     ProgressMeter& meter) {
    std::vector<Byte> buffer(StreamBlockSize + CipherBlock);
    std::size_t held = 0;
    for (;;) {
        const ReadResult read = readBlock(in, buffer.data() + held, StreamBlockSize);
        if (read.broken)
            return failure(ReadFailed);
        const std::size_t length = held + read.count;
        held = read.atEnd ? lastBlockLength(length) : CipherBlock;
        const std::size_t ready = length - held;
        cbc.ProcessData(buffer.data(), buffer.data(), ready);
        if (!writeBlock(out, buffer.data(), ready))
            return failure(WriteFailed);
        std::memmove(buffer.data(), buffer.data() + ready, held);
        meter.advance(read.count);
        if (read.atEnd)
            return decryptLastBlock(cbc, buffer.data(), held, out);
    }
}

std::optional<Failure> notFlushed(std::ostream& out) {
    out.flush();
    if (out)
        return std::nullopt;
    return failure(WriteFailed);
}

std::optional<Failure> encryptWithKeyAndIv(std::istream& in, std::ostream& out,
                                           const std::string& key, const std::string& iv,
                                           const ProgressCallback& progress) {
    Encryption cbc;
    cbc.SetKeyWithIV(bytesOf(key), key.size(), bytesOf(iv), iv.size());
    ProgressMeter meter{progress, remainingBytes(in)};
    // Reading, the cipher and writing each get a thread: CBC encryption is
    // serial, so the save goes as fast as one core encrypts.
    ReadAheadStream ahead(in, meter.total);
    WriteBehindStream behind(out);
    if (std::optional<Failure> failed = encryptBlocks(ahead, behind, cbc, meter))
        return failed;
    return notFlushed(behind);
}

std::optional<Failure> decryptWithKeyAndIv(std::istream& in, std::ostream& out,
                                           const std::string& key, const std::string& iv,
                                           const ProgressCallback& progress) {
    Decryption cbc;
    cbc.SetKeyWithIV(bytesOf(key), key.size(), bytesOf(iv), iv.size());
    ProgressMeter meter{progress, remainingBytes(in)};
    if (meter.total && *meter.total % CipherBlock != 0) {
        // Refuse a torn ciphertext before any plaintext is written; the
        // filter gives the same text it would give at the end.
        return decryptLastBlock(cbc, nullptr, 0, out);
    }
    ReadAheadStream ahead(in, meter.total);
    WriteBehindStream behind(out);
    if (std::optional<Failure> failed = decryptBlocks(ahead, behind, cbc, meter))
        return failed;
    return notFlushed(behind);
}

std::optional<Failure> streamsNotReady(std::istream& in, std::ostream& out, const char* inputText) {
    if (!in.good())
        return failure(inputText);
    if (!out.good())
        return failure(OutputNotOpen);
    return std::nullopt;
}

} // namespace

std::string derivePasswordKey(const std::string& password) {
    std::string key(CryptoPP::SHA256::DIGESTSIZE, '\0');
    CryptoPP::SHA256().CalculateDigest(reinterpret_cast<Byte*>(key.data()), bytesOf(password),
                                       password.size());
    return key;
}

std::string plainCipherKey(const std::string& key) {
    return fromHexIfHex(key);
}

std::string randomBytes(std::size_t n) {
    try {
        CryptoPP::AutoSeededRandomPool pool(false, 32);
        std::string bytes(n, '\0');
        pool.GenerateBlock(reinterpret_cast<Byte*>(bytes.data()), bytes.size());
        return bytes;
    } catch (const std::exception&) {
        return {};
    }
}

bool isHexText(const std::string& text) {
    return text.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

std::string fromHexIfHex(const std::string& text) {
    if (!isHexText(text))
        return text;
    std::string bytes;
    CryptoPP::StringSource source(text, true,
                                  new CryptoPP::HexDecoder(new CryptoPP::StringSink(bytes)));
    return bytes;
}

// The IV is used as the raw bytes that are stored: read as hex text, an IV
// that happened to consist of hex digits only would shrink to 8 bytes and the
// safe could not be written or read. The key keeps the hex reading of the
// block-cipher routines, so that every key opens what it always opened.
std::optional<Failure> encryptSafe(std::istream& in, std::ostream& out, const std::string& key,
                                   const ProgressCallback& progress) {
    return runReported([&]() -> std::optional<Failure> {
        if (std::optional<Failure> notReady = streamsNotReady(in, out, PlainInputNotOpen))
            return notReady;
        rewindToStart(in);
        const std::string iv = randomBytes(IvSize);
        if (iv.size() != IvSize)
            return failure(NoRandomness);
        if (!writeBlock(out, bytesOf(iv), iv.size()))
            return failure(WriteFailed);
        return encryptWithKeyAndIv(in, out, fromHexIfHex(key), iv, progress);
    });
}

std::optional<Failure> decryptSafe(std::istream& in, std::ostream& out, const std::string& key,
                                   const ProgressCallback& progress) {
    return runReported([&]() -> std::optional<Failure> {
        if (std::optional<Failure> notReady = streamsNotReady(in, out, EncryptedInputNotOpen))
            return notReady;
        rewindToStart(in);
        std::string iv(IvSize, '\0');
        const ReadResult read = readBlock(in, reinterpret_cast<Byte*>(iv.data()), IvSize);
        if (read.broken)
            return failure(ReadFailed);
        if (read.count < IvSize)
            return failure(SafeWithoutIv);
        if (in.peek() == std::char_traits<char>::eof())
            return failure(in.bad() ? ReadFailed : SafeWithoutCiphertext);
        return decryptWithKeyAndIv(in, out, fromHexIfHex(key), iv, progress);
    });
}

} // namespace quorvane
