#include "tests/support/SealedBytes.h"

#include "storage/format/SealedSafe.h"
#include "tests/support/TestFiles.h"

#include <sodium.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace quorvane::test {
namespace {

namespace fs = std::filesystem;

const char* referenceTool() {
    return QUORVANE_SOURCE_DIR "/tests/support/sealed_reference.py";
}

// The tool takes every byte of its password file as the password.
struct ScratchFiles {
    explicit ScratchFiles(const fs::path& beside)
        : password(beside.string() + ".password"), plain(beside.string() + ".plain") {}
    ~ScratchFiles() {
        std::error_code ignored;
        fs::remove(password, ignored);
        fs::remove(plain, ignored);
    }
    fs::path password;
    fs::path plain;
};

void putLe32(std::string& to, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        to.push_back(static_cast<char>((value >> shift) & 0xFF));
}

const unsigned char* bytesOf(const std::string& text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

} // namespace

std::string sealedBytes(const std::string& container, const SealedKey& key) {
    const SealParameters& parameters = key.parameters();
    std::string header = "QVSEAL\r\n";
    putLe32(header, 1);  // the format's version
    header.push_back(1); // Argon2id 1.3
    putLe32(header, parameters.passes);
    putLe32(header, parameters.memoryKiB);
    header.append(reinterpret_cast<const char*>(parameters.salt.data()), SealSaltSize);
    std::string streamHeader(crypto_secretstream_xchacha20poly1305_HEADERBYTES, '\0');
    crypto_secretstream_xchacha20poly1305_state state;
    crypto_secretstream_xchacha20poly1305_init_push(
        &state, reinterpret_cast<unsigned char*>(streamHeader.data()), key.bytes());
    header += streamHeader;
    std::string safe = header;
    // At least one piece: the last (possibly empty) carries the final tag; the
    // first takes the header as additional data.
    std::size_t at = 0;
    for (;;) {
        const std::size_t count = std::min(SealedPieceSize, container.size() - at);
        const bool last = at + count == container.size();
        std::string piece(count + SealedPieceOverhead, '\0');
        crypto_secretstream_xchacha20poly1305_push(
            &state, reinterpret_cast<unsigned char*>(piece.data()), nullptr,
            bytesOf(container) + at, count, at == 0 ? bytesOf(header) : nullptr,
            at == 0 ? header.size() : 0,
            last ? crypto_secretstream_xchacha20poly1305_TAG_FINAL
                 : crypto_secretstream_xchacha20poly1305_TAG_MESSAGE);
        safe += piece;
        if (last)
            return safe;
        at += count;
    }
}

void writeSealedSafe(const fs::path& path, const std::string& password,
                     const std::string& container) {
    const auto [key, failure] = deriveNewSealedKey(password, QuickPasses, QuickMemoryKiB);
    if (!key)
        throw std::runtime_error("cannot seal " + path.string() + ": " + failure.detail);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << sealedBytes(container, *key);
    if (!out.flush())
        throw std::runtime_error("cannot write " + path.string());
}

bool referenceSeal(const fs::path& path, const std::string& password, const std::string& container,
                   std::uint32_t passes, std::uint32_t memoryKiB, const std::string& saltHex) {
    ScratchFiles scratch(path);
    writeFile(scratch.password, password);
    writeFile(scratch.plain, container);
    return runProgram({"/usr/bin/python3", referenceTool(), "seal", scratch.password.string(),
                       scratch.plain.string(), path.string(), std::to_string(passes),
                       std::to_string(memoryKiB), saltHex}) == 0;
}

std::optional<std::string> referenceUnseal(const fs::path& path, const std::string& password) {
    ScratchFiles scratch(path);
    writeFile(scratch.password, password);
    if (runProgram({"/usr/bin/python3", referenceTool(), "unseal", scratch.password.string(),
                    path.string(), scratch.plain.string()}) != 0)
        return std::nullopt;
    return readFile(scratch.plain);
}

} // namespace quorvane::test
