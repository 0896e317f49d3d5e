#include "storage/workingcopy/XtsSectorCipher.h"

#include <cstring>

namespace quorvane {

namespace {

constexpr std::size_t BlockSize = 16;

// One cipher block as two 64-bit lanes; the compilers turn the xor into one
// vector instruction.
typedef std::uint64_t Lanes __attribute__((vector_size(16)));

Lanes load(const unsigned char* at) {
    Lanes lanes;
    std::memcpy(&lanes, at, sizeof lanes);
    return lanes;
}

void store(unsigned char* at, Lanes lanes) {
    std::memcpy(at, &lanes, sizeof lanes);
}

// out = in xor mask, block by block.
void mask(const unsigned char* in, unsigned char* out, const std::uint64_t* tweaks,
          std::size_t length) {
    for (std::size_t i = 0; i < length; i += BlockSize) {
        Lanes tweak;
        std::memcpy(&tweak, tweaks + i / 8, sizeof tweak);
        store(out + i, load(in + i) ^ tweak);
    }
}

} // namespace

void XtsSectorCipher::setKey(const unsigned char* key, std::size_t sectorSize) {
    sectorSize_ = sectorSize;
    dataEncryption_.SetKey(key, KeySize / 2);
    dataDecryption_.SetKey(key, KeySize / 2);
    tweakEncryption_.SetKey(key + KeySize / 2, KeySize / 2);
}

// The tweak of block j of sector s is E_K2(s) multiplied j times by x in
// GF(2^128), the 16 bytes read as a little-endian number (IEEE 1619).
void XtsSectorCipher::makeTweaks(std::uint64_t firstSector, std::size_t sectors) {
    const std::size_t blocksPerSector = sectorSize_ / BlockSize;
    tweaks_.resize(sectors * blocksPerSector * 2);
    starts_.assign(sectors * BlockSize, 0);
    for (std::size_t s = 0; s < sectors; ++s) {
        const std::uint64_t number = firstSector + s;
        for (int i = 0; i < 8; ++i)
            starts_[s * BlockSize + static_cast<std::size_t>(i)] =
                static_cast<unsigned char>((number >> (8 * i)) & 0xFFu);
    }
    tweakEncryption_.ProcessData(starts_.data(), starts_.data(), starts_.size());
    for (std::size_t s = 0; s < sectors; ++s) {
        std::uint64_t low = 0;
        std::uint64_t high = 0;
        for (int i = 7; i >= 0; --i) {
            low = (low << 8) | starts_[s * BlockSize + static_cast<std::size_t>(i)];
            high = (high << 8) | starts_[s * BlockSize + 8 + static_cast<std::size_t>(i)];
        }
        std::uint64_t* out = tweaks_.data() + s * blocksPerSector * 2;
        for (std::size_t j = 0; j < blocksPerSector; ++j) {
            // Stored in memory order, so that a plain 64-bit xor masks the data
            // on this (little-endian) machine.
            out[2 * j] = low;
            out[2 * j + 1] = high;
            const std::uint64_t carry = high >> 63;
            high = (high << 1) | (low >> 63);
            low = (low << 1) ^ (carry * 0x87u);
        }
    }
}

// Both directions are the same three passes; only the block cipher differs.
void XtsSectorCipher::run(CryptoPP::StreamTransformation& blocks, std::uint64_t firstSector,
                          std::size_t sectors, const unsigned char* in, unsigned char* out) {
    const std::size_t length = sectors * sectorSize_;
    makeTweaks(firstSector, sectors);
    mask(in, out, tweaks_.data(), length);
    blocks.ProcessData(out, out, length);
    mask(out, out, tweaks_.data(), length);
}

void XtsSectorCipher::encrypt(std::uint64_t firstSector, std::size_t sectors,
                              const unsigned char* in, unsigned char* out) {
    run(dataEncryption_, firstSector, sectors, in, out);
}

void XtsSectorCipher::decrypt(std::uint64_t firstSector, std::size_t sectors,
                              const unsigned char* in, unsigned char* out) {
    run(dataDecryption_, firstSector, sectors, in, out);
}

} // namespace quorvane
