#pragma once

// AES-256-XTS over whole sectors (IEEE 1619), the tweak of each sector being
// its number. The library's XTS mode takes one sector per call and sets the
// tweak anew each time, which holds the working copy to under 1 GB/s here;
// this does the same arithmetic for a run of sectors at once: the tweaks of
// every block are made first, and the data goes through the block cipher in
// one pass (ECB over tweak-masked blocks), so the cipher can pipeline.

#include <cryptopp/aes.h>
#include <cryptopp/modes.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvane {

class XtsSectorCipher {
  public:
    static constexpr std::size_t KeySize = 64; // data key, then tweak key

    XtsSectorCipher() = default;
    void setKey(const unsigned char* key, std::size_t sectorSize);

    // in and out hold `sectors` whole sectors; they may be the same buffer.
    void encrypt(std::uint64_t firstSector, std::size_t sectors, const unsigned char* in,
                 unsigned char* out);
    void decrypt(std::uint64_t firstSector, std::size_t sectors, const unsigned char* in,
                 unsigned char* out);

  private:
    void makeTweaks(std::uint64_t firstSector, std::size_t sectors);
    void run(CryptoPP::StreamTransformation& blocks, std::uint64_t firstSector, std::size_t sectors,
             const unsigned char* in, unsigned char* out);

    std::size_t sectorSize_ = 0;
    CryptoPP::ECB_Mode<CryptoPP::AES>::Encryption dataEncryption_;
    CryptoPP::ECB_Mode<CryptoPP::AES>::Decryption dataDecryption_;
    CryptoPP::ECB_Mode<CryptoPP::AES>::Encryption tweakEncryption_;
    std::vector<std::uint64_t> tweaks_; // two words (little-endian halves) per block
    std::vector<unsigned char> starts_; // the sectors' first tweaks
};

} // namespace quorvane
