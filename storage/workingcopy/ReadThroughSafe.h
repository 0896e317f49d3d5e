#pragma once

// A plain safe file read at any place through its cipher, without decrypting
// what lies before: in CBC, block i decrypts with block i-1 as its IV (the
// stored IV for block 0), so any range costs its own blocks and one more. The
// container's length comes from the last block's padding, which is checked
// when the safe is opened, exactly as a whole decryption checks it.
//
// The safe is held through a descriptor of its own. A rename over the safe's
// name leaves it valid; a change in place (another program writing into the
// file, cutting it, or touching it) is seen at the next read by its size,
// modification and change times: from then on every read fails with
// SafeChangedInPlace, so that nothing is read as if nothing had happened.

#include "storage/files/UniqueFd.h"
#include "storage/workingcopy/RandomAccessFile.h"

#include <cryptopp/aes.h>
#include <cryptopp/modes.h>

#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace quorvane {

enum class SafeOpenResult {
    Opened,
    NotASafe,   // too short, not whole blocks, or the padding does not fit the key
    ReadFailed, // the system failed; errno in error
};

class ReadThroughSafe : public RandomAccessFile {
  public:
    // fd: the safe file (opened again; the caller keeps its own). key: the
    // cipher key's raw bytes.
    static std::unique_ptr<ReadThroughSafe> open(int fd, const std::string& key,
                                                 SafeOpenResult& outcome, int& error);
    ~ReadThroughSafe() override;
    ReadThroughSafe(const ReadThroughSafe&) = delete;
    ReadThroughSafe& operator=(const ReadThroughSafe&) = delete;

    bool readAt(std::uint64_t offset, void* into, std::size_t count) override;
    bool writeAt(std::uint64_t, const void*, std::size_t) override; // read-only: EROFS
    std::uint64_t length() const override { return length_; }
    bool resize(std::uint64_t) override; // read-only: EROFS
    bool sync() override { return true; }
    int lastError() const override { return lastError_; }

    // Whether the file is still as it was opened (a changed file fails every read).
    bool unchanged() override;

  private:
    ReadThroughSafe(int fd, const std::string& key);
    bool readFile(std::uint64_t offset, unsigned char* into, std::size_t count);
    bool decryptBlocks(std::uint64_t firstBlock, std::size_t blocks, unsigned char* into);
    bool failWith(int error);

    UniqueFd fd_;
    struct stat opened_ {};
    std::string metadata_; // metadataOf() the file, as opened_ saw it
    std::uint64_t fileSize_ = 0;
    std::uint64_t length_ = 0;
    CryptoPP::CBC_Mode<CryptoPP::AES>::Decryption cbc_;
    std::vector<unsigned char> buffer_; // ciphertext, with the IV block before it
    std::vector<unsigned char> plain_;  // a range that does not start or end on a block
    bool changed_ = false;
    int lastError_ = 0;
};

} // namespace quorvane
