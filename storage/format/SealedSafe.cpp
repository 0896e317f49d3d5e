#include "storage/format/SealedSafe.h"

#include "storage/format/StreamPosition.h"
#include "storage/workingcopy/BackgroundStreams.h"

#include <sodium.h>

#include <cstring>
#include <functional>
#include <optional>
#include <vector>

namespace quorvane {
namespace {

constexpr char Signature[SealSignatureSize + 1] = "QVSEAL\r\n";
constexpr std::uint32_t FormatNumber = 1;
constexpr unsigned char KdfArgon2id = 1;
constexpr std::size_t StreamHeaderAt = SealedHeaderSize - 24;
constexpr std::uint32_t PassesMost = 16;
constexpr std::uint32_t MemoryLeastKiB = 8 * 1024;
// What a header may ask of every password attempt: no more memory than four
// times a new safe's, and no more work (passes over memory) than four times a
// new safe's, so that a small hostile file costs a few default opens at most,
// not a gigabyte and many seconds per attempt.
constexpr std::uint32_t MemoryMostKiB = 4 * SealMemoryKiBDefault;
constexpr std::uint64_t WorkMostKiB = 4ull * SealPassesDefault * SealMemoryKiBDefault;

static_assert(SealedHeaderSize - StreamHeaderAt ==
              crypto_secretstream_xchacha20poly1305_HEADERBYTES);
static_assert(SealedPieceOverhead == crypto_secretstream_xchacha20poly1305_ABYTES);
static_assert(SealKeySize == crypto_secretstream_xchacha20poly1305_KEYBYTES);

constexpr const char* NotSealedText = "The safe file is not sealed";
constexpr const char* UnacceptableText =
    "The sealed safe's header is cut short, of another format, or out of bounds";
constexpr const char* FirstPieceText = "The sealed safe does not open with this password";
constexpr const char* LaterPieceText = "A part of the sealed safe does not match its seal";
constexpr const char* NoFinalText = "The sealed safe ends before its last part";
constexpr const char* TrailingText = "The sealed safe has bytes after its last part";
constexpr const char* ReadFailedText = "Couldn't read the input file to the end";
constexpr const char* WriteFailedText = "Couldn't write the whole output file";
constexpr const char* NoSodiumText = "The cryptographic library could not be started";
constexpr const char* NoKeyText = "Couldn't derive the key (not enough memory?)";

bool sodiumReady() {
    static const bool ready = ::sodium_init() >= 0;
    return ready;
}

std::uint32_t le32At(const std::string& from, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(from[at + static_cast<std::size_t>(i)]);
    return value;
}

const unsigned char* bytesOf(const std::string& text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

std::size_t readUpTo(std::istream& in, unsigned char* to, std::size_t wanted) {
    in.read(reinterpret_cast<char*>(to), static_cast<std::streamsize>(wanted));
    return static_cast<std::size_t>(in.gcount());
}

bool atEnd(std::istream& in) {
    return in.peek() == std::char_traits<char>::eof();
}

SealedHeaderResult readHeaderBytes(std::istream& in, std::string& header,
                                   SealParameters& parameters) {
    rewindToStart(in);
    header.assign(SealedHeaderSize, '\0');
    const std::size_t got =
        readUpTo(in, reinterpret_cast<unsigned char*>(header.data()), SealedHeaderSize);
    if (in.bad())
        return SealedHeaderResult::ReadFailed;
    // A plain safe can be shorter than the header (an empty one is 48
    // bytes): the end met here must not stop the plain reading from its start.
    in.clear();
    header.resize(got);
    if (!hasSealSignature(header))
        return SealedHeaderResult::NotSealed;
    if (got < SealedHeaderSize || le32At(header, 8) != FormatNumber ||
        static_cast<unsigned char>(header[12]) != KdfArgon2id)
        return SealedHeaderResult::Unacceptable;
    parameters.passes = le32At(header, 13);
    parameters.memoryKiB = le32At(header, 17);
    std::memcpy(parameters.salt.data(), header.data() + 21, SealSaltSize);
    return sealParametersAccepted(parameters) ? SealedHeaderResult::Read
                                              : SealedHeaderResult::Unacceptable;
}

// Where the unsealed pieces go: the output file, or a comparison.
using PieceSink = std::function<bool(const unsigned char* data, std::size_t count)>;

UnsealResult fail(Unsealing outcome, const char* text) {
    return UnsealResult{outcome, Failure{0, text}};
}

UnsealResult unsealPieces(std::istream& source, const SealedKey& key, const PieceSink& sink,
                          const ProgressCallback& progress) {
    if (!sodiumReady())
        return fail(Unsealing::Refused, NoSodiumText);
    std::string header;
    SealParameters parameters;
    switch (readHeaderBytes(source, header, parameters)) {
    case SealedHeaderResult::ReadFailed:
        return fail(Unsealing::ReadFailed, ReadFailedText);
    case SealedHeaderResult::NotSealed:
        return fail(Unsealing::Refused, NotSealedText);
    case SealedHeaderResult::Unacceptable:
        return fail(Unsealing::Refused, UnacceptableText);
    case SealedHeaderResult::Read:
        break;
    }
    crypto_secretstream_xchacha20poly1305_state state;
    if (crypto_secretstream_xchacha20poly1305_init_pull(&state, bytesOf(header) + StreamHeaderAt,
                                                        key.bytes()) != 0)
        return fail(Unsealing::Refused, FirstPieceText);
    const std::optional<std::uint64_t> total = remainingBytes(source);
    // The pieces are read by a thread of their own while the one before is opened.
    ReadAheadStream in(source, total);
    std::uint64_t done = 0;
    std::vector<unsigned char> sealed(SealedPieceSize + SealedPieceOverhead);
    std::vector<unsigned char> plain(SealedPieceSize);
    for (bool first = true;; first = false) {
        // A piece that does not open is a wrong password while it is the
        // first (it also carries the header), and damage after that.
        const Unsealing broken = first ? Unsealing::Refused : Unsealing::Damaged;
        const std::size_t count = readUpTo(in, sealed.data(), sealed.size());
        if (in.bad())
            return fail(Unsealing::ReadFailed, ReadFailedText);
        if (count == 0)
            return fail(broken, first ? FirstPieceText : NoFinalText);
        unsigned long long length = 0;
        unsigned char tag = 0;
        if (crypto_secretstream_xchacha20poly1305_pull(
                &state, plain.data(), &length, &tag, sealed.data(), count,
                first ? bytesOf(header) : nullptr, first ? header.size() : 0) != 0)
            return fail(broken, first ? FirstPieceText : LaterPieceText);
        if (!sink(plain.data(), static_cast<std::size_t>(length)))
            return fail(Unsealing::WriteFailed, WriteFailedText);
        done += count;
        if (total)
            reportProgress(progress, done, *total);
        if (tag == crypto_secretstream_xchacha20poly1305_TAG_FINAL) {
            if (atEnd(in))
                return UnsealResult{};
            return in.bad() ? fail(Unsealing::ReadFailed, ReadFailedText)
                            : fail(Unsealing::Damaged, TrailingText);
        }
        // Our pieces carry no other tag; one that does was not made here.
        if (tag != crypto_secretstream_xchacha20poly1305_TAG_MESSAGE)
            return fail(Unsealing::Damaged, LaterPieceText);
    }
}

} // namespace

bool sealParametersAccepted(const SealParameters& parameters) {
    return parameters.passes >= 1 && parameters.passes <= PassesMost &&
           parameters.memoryKiB >= MemoryLeastKiB && parameters.memoryKiB <= MemoryMostKiB &&
           std::uint64_t{parameters.passes} * parameters.memoryKiB <= WorkMostKiB;
}

bool hasSealSignature(const std::string& firstBytes) {
    return firstBytes.size() >= SealSignatureSize &&
           firstBytes.compare(0, SealSignatureSize, Signature) == 0;
}

SealedHeaderResult readSealedHeader(std::istream& in, SealParameters& parameters) {
    std::string header;
    return readHeaderBytes(in, header, parameters);
}

SealedKey::SealedKey() {
    // Where the system refuses the lock (a low RLIMIT_MEMLOCK) the key still
    // works; it is wiped all the same.
    static_cast<void>(::sodium_mlock(key_.data(), key_.size()));
}

SealedKey::~SealedKey() {
    ::sodium_munlock(key_.data(), key_.size()); // wipes before it unlocks
    ::sodium_memzero(key_.data(), key_.size());
}

std::optional<Failure> SealedKey::derive(const std::string& password,
                                         const SealParameters& parameters) {
    if (!sodiumReady())
        return Failure{0, NoSodiumText};
    if (!sealParametersAccepted(parameters))
        return Failure{0, UnacceptableText};
    const unsigned long long memoryBytes = 1024ull * parameters.memoryKiB;
    if (::crypto_pwhash(key_.data(), key_.size(), password.data(), password.size(),
                        parameters.salt.data(), parameters.passes, memoryBytes,
                        crypto_pwhash_ALG_ARGON2ID13) != 0) {
        ::sodium_memzero(key_.data(), key_.size());
        return Failure{0, NoKeyText};
    }
    parameters_ = parameters;
    return std::nullopt;
}

NewSealedKeyResult deriveNewSealedKey(const std::string& password, std::uint32_t passes,
                                      std::uint32_t memoryKiB) {
    if (!sodiumReady())
        return {nullptr, Failure{0, NoSodiumText}};
    SealParameters parameters;
    parameters.passes = passes;
    parameters.memoryKiB = memoryKiB;
    ::randombytes_buf(parameters.salt.data(), parameters.salt.size());
    auto key = std::make_unique<SealedKey>();
    if (std::optional<Failure> failed = key->derive(password, parameters))
        return {nullptr, std::move(*failed)};
    return {std::move(key), Failure{}};
}

UnsealResult unsealStream(std::istream& in, std::ostream& sink, const SealedKey& key,
                          const ProgressCallback& progress) {
    WriteBehindStream out(sink);
    auto write = [&out](const unsigned char* data, std::size_t count) {
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(count));
        return static_cast<bool>(out);
    };
    UnsealResult result = unsealPieces(in, key, write, progress);
    if (result.outcome == Unsealing::Done && !out.flush())
        result = fail(Unsealing::WriteFailed, WriteFailedText);
    return result;
}

} // namespace quorvane
