#include "tests/cli/SafeBytes.h"

#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <cryptopp/sha.h>

#include <stdexcept>

namespace quorvane::clitest {

namespace fs = std::filesystem;

std::string passwordKeyHex(const std::string& password) {
    std::string hex;
    CryptoPP::SHA256 hash;
    CryptoPP::StringSource source(
        password, true,
        new CryptoPP::HashFilter(hash, new CryptoPP::HexEncoder(new CryptoPP::StringSink(hex))));
    return hex;
}

namespace {

std::string hexToBytes(const std::string& hex) {
    std::string bytes;
    CryptoPP::StringSource source(hex, true,
                                  new CryptoPP::HexDecoder(new CryptoPP::StringSink(bytes)));
    return bytes;
}

} // namespace

void opensslSeal(const CliSandbox& box, const std::string& plaintext, const std::string& password,
                 const std::string& ivHex, const fs::path& safePath) {
    const fs::path plain = box.root() / "io" / "seal-in";
    const fs::path cipher = box.root() / "io" / "seal-out";
    writeFile(plain, plaintext);
    const std::string iv = hexToBytes(ivHex);
    if (!test::opensslCbc(false, hexToBytes(passwordKeyHex(password)), iv, plain, cipher))
        throw std::runtime_error("openssl enc failed");
    writeFile(safePath, iv + readFile(cipher));
    fs::remove(plain);
    fs::remove(cipher);
}

std::optional<std::string> opensslOpen(const CliSandbox& box, const fs::path& safePath,
                                       const std::string& password) {
    const std::string safe = readFile(safePath);
    if (safe.size() < 16)
        return std::nullopt;
    const fs::path cipher = box.root() / "io" / "open-in";
    const fs::path plain = box.root() / "io" / "open-out";
    writeFile(cipher, safe.substr(16));
    std::optional<std::string> container;
    if (test::opensslCbc(true, hexToBytes(passwordKeyHex(password)), safe.substr(0, 16), cipher,
                         plain))
        container = readFile(plain);
    std::error_code ignored;
    fs::remove(cipher, ignored);
    fs::remove(plain, ignored);
    return container;
}

} // namespace quorvane::clitest
