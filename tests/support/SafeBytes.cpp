#include "tests/support/SafeBytes.h"

#include "storage/format/SafeCipher.h"

#include <cryptopp/aes.h>
#include <cryptopp/filters.h>
#include <cryptopp/modes.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <streambuf>

namespace quorvane::test {

namespace {

// Takes every byte and keeps none: a decryption run only for its verdict
// needs a working output, not the plaintext.
class DiscardingBuffer : public std::streambuf {
  protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

} // namespace

std::string le32(std::uint32_t value) {
    std::string bytes(4, '\0');
    for (std::size_t i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

std::string le64(std::uint64_t value) {
    return le32(static_cast<std::uint32_t>(value)) + le32(static_cast<std::uint32_t>(value >> 32));
}

std::string containerBytes(const std::vector<StoredFile>& files, std::uint32_t version) {
    std::string records;
    std::string index;
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::string name = files[i].name.substr(0, 50);
        name.resize(50, '\0');
        const auto offset = static_cast<std::uint32_t>(12 + records.size());
        index += le32(static_cast<std::uint32_t>(i)) + le32(offset);
        records += name + le64(files[i].content.size()) + files[i].content;
    }
    const auto indexOffset = static_cast<std::uint32_t>(12 + records.size());
    return le32(static_cast<std::uint32_t>(files.size())) + le32(version) + le32(indexOffset) +
           records + index;
}

std::string emptyContainerBytes() {
    return std::string("\x00\x00\x00\x00\x02\x00\x00\x00\x0C\x00\x00\x00\x33\x01\x00\x00", 16);
}

void writeSafe(const std::filesystem::path& path, const std::string& password,
               const std::string& container) {
    // A fixed IV: under a wrong key the padding check passes for about one IV
    // in 256, and a refusal test must not depend on chance. Encrypted here by
    // the library's own pipeline, apart from the program's block loop.
    const std::string iv("\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x0D\x0E\x0F", 16);
    const std::string key = plainCipherKey(derivePasswordKey(password));
    CryptoPP::CBC_Mode<CryptoPP::Rijndael>::Encryption cbc;
    cbc.SetKeyWithIV(reinterpret_cast<const CryptoPP::byte*>(key.data()), key.size(),
                     reinterpret_cast<const CryptoPP::byte*>(iv.data()), iv.size());
    std::string ciphertext;
    CryptoPP::StringSource source(
        container, true,
        new CryptoPP::StreamTransformationFilter(cbc, new CryptoPP::StringSink(ciphertext)));
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << iv << ciphertext;
    out.close();
    if (!out)
        throw std::runtime_error("cannot make safe " + path.string());
}

std::optional<std::string> decryptedSafe(const std::filesystem::path& path,
                                         const std::string& password) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    if (decryptSafe(in, out, derivePasswordKey(password)))
        return std::nullopt;
    return out.str();
}

bool refusesPassword(const std::filesystem::path& safe, const std::string& password) {
    std::ifstream in(safe, std::ios::binary);
    if (!in.is_open())
        throw std::runtime_error("cannot read safe " + safe.string());
    DiscardingBuffer discard;
    std::ostream out(&discard);
    return decryptSafe(in, out, derivePasswordKey(password)).has_value();
}

std::string refusedPasswordFor(const std::filesystem::path& safe, const std::string& base) {
    // Each candidate is refused with a chance of about 255/256, so a handful
    // of tries always suffices; the bound only keeps a broken safe from
    // looping for ever.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::string candidate = attempt == 0 ? base : base + std::to_string(attempt);
        if (refusesPassword(safe, candidate))
            return candidate;
    }
    throw std::runtime_error("no password refused by " + safe.string());
}

} // namespace quorvane::test
