#include "storage/format/SafeCipher.h"

#include "storage/format/StreamPosition.h"
#include "storage/workingcopy/BackgroundStreams.h"

#include <cryptopp/aes.h>
#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <cryptopp/modes.h>
#include <cryptopp/osrng.h>
#include <cryptopp/sha.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <optional>
#include <system_error>
#include <vector>

namespace quorvane {
namespace {

using Byte = CryptoPP::byte;
using Encryption = CryptoPP::CBC_Mode<CryptoPP::Rijndael>::Encryption;
using Decryption = CryptoPP::CBC_Mode<CryptoPP::Rijndael>::Decryption;

constexpr std::size_t CipherBlock = CryptoPP::Rijndael::BLOCKSIZE;
constexpr std::size_t IvSize = CipherBlock;
static_assert(StreamBlockSize % CipherBlock == 0, "stream blocks must hold whole cipher blocks");

// Texts these routines leave in cipherMessage.
constexpr const char* EncryptedInputNotOpen = "Couldn't open encrypted input file";
constexpr const char* OutputNotOpen = "Couldn't open desired output file";
constexpr const char* PlainInputNotOpen = "Couldn't open plaintext input file";
constexpr const char* ReadFailed = "Couldn't read the input file to the end";
constexpr const char* WriteFailed = "Couldn't write the whole output file";
constexpr const char* SafeWithoutIv = "The safe file is too short to hold an IV";
constexpr const char* SafeWithoutCiphertext = "The safe file holds no encrypted data";
constexpr const char* NoRandomness = "Couldn't get random bytes from the system";
constexpr const char* OutputIsTheSafe = "The decrypted file would overwrite the safe itself";
constexpr const char* DecryptsToOtherBytes =
    "The written safe file does not decrypt to the working copy";
constexpr const char* UnknownFailure = "Unknown failure while encrypting or decrypting";

const Byte* bytesOf(const std::string& text) {
    return reinterpret_cast<const Byte*>(text.data());
}

// Runs one cipher routine so that nothing escapes it: the step returns false
// with a message of its own, or the library (or the allocator) throws and its
// text becomes the message. On success the old message is left as it was.
template <typename Step>
void runReported(bool& cipherFailed, std::string& cipherMessage, Step&& step) {
    std::string message;
    bool done = false;
    try {
        done = step(message);
    } catch (const std::exception& error) {
        message = error.what();
    } catch (...) {
        message = UnknownFailure;
    }
    cipherFailed = !done;
    if (!done)
        cipherMessage = message;
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
bool encryptBlocks(std::istream& in, std::ostream& out, Encryption& cbc, ProgressMeter& meter,
                   std::string& message) {
    std::vector<Byte> buffer(StreamBlockSize + CipherBlock);
    for (;;) {
        const ReadResult read = readBlock(in, buffer.data(), StreamBlockSize);
        if (read.broken) {
            message = ReadFailed;
            return false;
        }
        std::size_t length = read.count;
        if (read.atEnd) {
            const std::size_t padding = CipherBlock - length % CipherBlock;
            std::fill_n(buffer.data() + length, padding, static_cast<Byte>(padding));
            length += padding;
        }
        cbc.ProcessData(buffer.data(), buffer.data(), length);
        if (!writeBlock(out, buffer.data(), length)) {
            message = WriteFailed;
            return false;
        }
        meter.advance(read.count);
        if (read.atEnd)
            return true;
    }
}

// Decrypts the held-back end of the ciphertext through the library's own
// filter, which checks and strips the padding and rejects a length that is not
// a whole number of blocks, with its own texts (it throws on a bad one).
bool decryptLastBlock(Decryption& cbc, const Byte* tail, std::size_t length, std::ostream& out,
                      std::string& message) {
    std::string plaintext;
    CryptoPP::StreamTransformationFilter filter(cbc, new CryptoPP::StringSink(plaintext));
    filter.Put(tail, length);
    filter.MessageEnd();
    if (!writeBlock(out, bytesOf(plaintext), plaintext.size())) {
        message = WriteFailed;
        return false;
    }
    return true;
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
bool decryptBlocks(std::istream& in, std::ostream& out, Decryption& cbc, ProgressMeter& meter,
                   std::string& message) {
    std::vector<Byte> buffer(StreamBlockSize + CipherBlock);
    std::size_t held = 0;
    for (;;) {
        const ReadResult read = readBlock(in, buffer.data() + held, StreamBlockSize);
        if (read.broken) {
            message = ReadFailed;
            return false;
        }
        const std::size_t length = held + read.count;
        held = read.atEnd ? lastBlockLength(length) : CipherBlock;
        const std::size_t ready = length - held;
        cbc.ProcessData(buffer.data(), buffer.data(), ready);
        if (!writeBlock(out, buffer.data(), ready)) {
            message = WriteFailed;
            return false;
        }
        std::memmove(buffer.data(), buffer.data() + ready, held);
        meter.advance(read.count);
        if (read.atEnd)
            return decryptLastBlock(cbc, buffer.data(), held, out, message);
    }
}

bool flushed(std::ostream& out, std::string& message) {
    out.flush();
    if (out)
        return true;
    message = WriteFailed;
    return false;
}

bool encryptWithKeyAndIv(std::istream& in, std::ostream& out, const std::string& key,
                         const std::string& iv, const ProgressCallback& progress,
                         std::string& message) {
    Encryption cbc;
    cbc.SetKeyWithIV(bytesOf(key), key.size(), bytesOf(iv), iv.size());
    ProgressMeter meter{progress, remainingBytes(in)};
    // Reading, the cipher and writing each get a thread: CBC encryption is
    // serial, so the save goes as fast as one core encrypts.
    ReadAheadStream ahead(in, meter.total);
    WriteBehindStream behind(out);
    return encryptBlocks(ahead, behind, cbc, meter, message) && flushed(behind, message);
}

bool decryptWithKeyAndIv(std::istream& in, std::ostream& out, const std::string& key,
                         const std::string& iv, const ProgressCallback& progress,
                         std::string& message) {
    Decryption cbc;
    cbc.SetKeyWithIV(bytesOf(key), key.size(), bytesOf(iv), iv.size());
    ProgressMeter meter{progress, remainingBytes(in)};
    if (meter.total && *meter.total % CipherBlock != 0) {
        // Refuse a torn ciphertext before any plaintext is written; the
        // filter gives the same text it would give at the end.
        return decryptLastBlock(cbc, nullptr, 0, out, message);
    }
    ReadAheadStream ahead(in, meter.total);
    WriteBehindStream behind(out);
    return decryptBlocks(ahead, behind, cbc, meter, message) && flushed(behind, message);
}

bool streamsReady(std::istream& in, std::ostream& out, const char* inputText,
                  std::string& message) {
    if (!in.good()) {
        message = inputText;
        return false;
    }
    if (!out.good()) {
        message = OutputNotOpen;
        return false;
    }
    return true;
}

// Creates (or empties) the plaintext file readable by its owner only, before
// any plaintext goes into it; an existing file keeps its inode but loses any
// wider mode it had.
bool createOwnerOnlyFile(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool narrowed = ::fchmod(fd, 0600) == 0;
    const bool closed = ::close(fd) == 0;
    return narrowed && closed;
}

// Leaves no partly decrypted bytes behind: emptied first, in case another
// name still links to the file, then removed.
void discardPlaintext(const std::filesystem::path& path) {
    std::error_code ignored;
    std::filesystem::resize_file(path, 0, ignored);
    std::filesystem::remove(path, ignored);
}

// An output that holds nothing: each piece written to it is compared with the
// next bytes of a reference stream, and the first difference fails the write.
class ComparingBuffer : public std::streambuf {
  public:
    explicit ComparingBuffer(std::istream& reference) : reference_(reference) {}

    bool differed() const { return differed_; }
    bool referenceUnreadable() const { return reference_.bad(); }

  protected:
    int_type overflow(int_type ch) override {
        if (traits_type::eq_int_type(ch, traits_type::eof()))
            return traits_type::not_eof(ch);
        const char byte = traits_type::to_char_type(ch);
        return xsputn(&byte, 1) == 1 ? ch : traits_type::eof();
    }

    std::streamsize xsputn(const char* data, std::streamsize count) override {
        if (count <= 0)
            return 0;
        expected_.resize(static_cast<std::size_t>(count));
        reference_.read(expected_.data(), count);
        if (reference_.gcount() != count ||
            std::memcmp(expected_.data(), data, static_cast<std::size_t>(count)) != 0) {
            differed_ = true;
            return 0;
        }
        return count;
    }

  private:
    std::istream& reference_;
    std::vector<char> expected_;
    bool differed_ = false;
};

} // namespace

bool safeDecryptsTo(std::istream& safe, std::istream& plaintext, const std::string& key,
                    std::string& message) {
    rewindToStart(plaintext);
    ComparingBuffer comparison(plaintext);
    std::ostream compared(&comparison);
    bool failed = false;
    decryptSafe(safe, compared, key, failed, message);
    if (comparison.referenceUnreadable()) {
        message = ReadFailed;
        return false;
    }
    // A safe that decrypts to fewer bytes than the working copy differs too.
    if (comparison.differed() || (!failed && plaintext.peek() != std::char_traits<char>::eof())) {
        message = DecryptsToOtherBytes;
        return false;
    }
    return !failed;
}

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

std::string toHexUnlessHex(const std::string& text) {
    if (isHexText(text))
        return text;
    std::string hex;
    CryptoPP::StringSource source(text, true,
                                  new CryptoPP::HexEncoder(new CryptoPP::StringSink(hex), true));
    return hex;
}

std::string fromHexIfHex(const std::string& text) {
    if (!isHexText(text))
        return text;
    std::string bytes;
    CryptoPP::StringSource source(text, true,
                                  new CryptoPP::HexDecoder(new CryptoPP::StringSink(bytes)));
    return bytes;
}

void cbcEncryptStream(std::istream& in, std::ostream& out, const std::string& key,
                      const std::string& iv, bool& cipherFailed, std::string& cipherMessage,
                      const ProgressCallback& progress) {
    runReported(cipherFailed, cipherMessage, [&](std::string& message) {
        return streamsReady(in, out, PlainInputNotOpen, message) &&
               encryptWithKeyAndIv(in, out, fromHexIfHex(key), fromHexIfHex(iv), progress, message);
    });
}

void cbcDecryptStream(std::istream& in, std::ostream& out, const std::string& key,
                      const std::string& iv, bool& cipherFailed, std::string& cipherMessage,
                      const ProgressCallback& progress) {
    runReported(cipherFailed, cipherMessage, [&](std::string& message) {
        return streamsReady(in, out, EncryptedInputNotOpen, message) &&
               decryptWithKeyAndIv(in, out, fromHexIfHex(key), fromHexIfHex(iv), progress, message);
    });
}

// The IV is used as the raw bytes that are stored: read as hex text, an IV
// that happened to consist of hex digits only would shrink to 8 bytes and the
// safe could not be written or read. The key keeps the hex reading of the
// block-cipher routines, so that every key opens what it always opened.
void encryptSafe(std::istream& in, std::ostream& out, const std::string& key, bool& cipherFailed,
                 std::string& cipherMessage, const ProgressCallback& progress) {
    runReported(cipherFailed, cipherMessage, [&](std::string& message) {
        if (!streamsReady(in, out, PlainInputNotOpen, message))
            return false;
        rewindToStart(in);
        const std::string iv = randomBytes(IvSize);
        if (iv.size() != IvSize) {
            message = NoRandomness;
            return false;
        }
        if (!writeBlock(out, bytesOf(iv), iv.size())) {
            message = WriteFailed;
            return false;
        }
        return encryptWithKeyAndIv(in, out, fromHexIfHex(key), iv, progress, message);
    });
}

void decryptSafe(std::istream& in, std::ostream& out, const std::string& key, bool& cipherFailed,
                 std::string& cipherMessage, const ProgressCallback& progress) {
    runReported(cipherFailed, cipherMessage, [&](std::string& message) {
        if (!streamsReady(in, out, EncryptedInputNotOpen, message))
            return false;
        rewindToStart(in);
        std::string iv(IvSize, '\0');
        const ReadResult read = readBlock(in, reinterpret_cast<Byte*>(iv.data()), IvSize);
        if (read.broken) {
            message = ReadFailed;
            return false;
        }
        if (read.count < IvSize) {
            message = SafeWithoutIv;
            return false;
        }
        if (in.peek() == std::char_traits<char>::eof()) {
            message = in.bad() ? ReadFailed : SafeWithoutCiphertext;
            return false;
        }
        return decryptWithKeyAndIv(in, out, fromHexIfHex(key), iv, progress, message);
    });
}

void decryptSafeFile(const std::filesystem::path& safePath,
                     const std::filesystem::path& plaintextPath, const std::string& key,
                     bool& cipherFailed, std::string& cipherMessage,
                     const ProgressCallback& progress) {
    std::ifstream in(safePath, std::ios::binary);
    if (!in.is_open()) {
        cipherFailed = true;
        cipherMessage = EncryptedInputNotOpen;
        return;
    }
    std::error_code ignored;
    if (std::filesystem::equivalent(safePath, plaintextPath, ignored)) {
        // Creating the output would empty the very safe that is to be read.
        cipherFailed = true;
        cipherMessage = OutputIsTheSafe;
        return;
    }
    if (!createOwnerOnlyFile(plaintextPath)) {
        cipherFailed = true;
        cipherMessage = OutputNotOpen;
        return;
    }
    std::ofstream out(plaintextPath, std::ios::binary | std::ios::trunc);
    decryptSafe(in, out, key, cipherFailed, cipherMessage, progress);
    out.close();
    if (!cipherFailed && out.fail()) {
        cipherFailed = true;
        cipherMessage = WriteFailed;
    }
    if (cipherFailed)
        discardPlaintext(plaintextPath);
}

} // namespace quorvane
