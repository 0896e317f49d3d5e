#pragma once

// The working copy of an open safe: the plaintext container as the operations
// see it, never on disk in plaintext. Sectors (4 KiB) that were never written
// are read through from a base file (the safe itself, decrypted at the place
// asked for) or, past the base's end, read as zeros. A sector's first write
// copies it into an encrypted sector file (copy on write) and from then on it
// is read from there; a bitmap says which sectors are where. So opening a safe
// writes nothing, and a change costs the sectors it touches.
//
// With no base it is simply an encrypted file that starts empty: what a
// sealed safe is decrypted into, and what a file being written is kept in.

#include "storage/workingcopy/EncryptedSectors.h"
#include "storage/workingcopy/RandomAccessFile.h"

#include <filesystem>
#include <memory>
#include <vector>

namespace quorvane {

class WorkingCopy : public RandomAccessFile {
  public:
    // sectorFile: where written sectors go, created at the first write.
    explicit WorkingCopy(std::filesystem::path sectorFile,
                         std::unique_ptr<RandomAccessFile> base = nullptr);
    ~WorkingCopy() override = default;
    WorkingCopy(const WorkingCopy&) = delete;
    WorkingCopy& operator=(const WorkingCopy&) = delete;

    bool readAt(std::uint64_t offset, void* into, std::size_t count) override;
    bool writeAt(std::uint64_t offset, const void* from, std::size_t count) override;
    std::uint64_t length() const override { return length_; }
    bool resize(std::uint64_t length) override;
    bool sync() override;
    int lastError() const override { return lastError_; }
    // False once the safe file it reads through was changed in place.
    bool unchanged() override { return !base_ || base_->unchanged(); }

    // After a save, newBase holds exactly what this working copy holds: it
    // becomes the base and every written sector is given up.
    void rebase(std::unique_ptr<RandomAccessFile> newBase);
    // Gives up the sector file (and its key) for good.
    void discard();
    // Whether a sector file exists (something was written since the last rebase).
    bool hasSectorFile() const { return sectors_.exists(); }
    const RandomAccessFile* base() const { return base_.get(); }

  private:
    bool isWritten(std::uint64_t sector) const {
        return sector < written_.size() && written_[sector];
    }
    bool readRun(std::uint64_t offset, unsigned char* into, std::size_t count, bool written);
    bool readFromBase(std::uint64_t offset, unsigned char* into, std::size_t count);
    bool loadSectors(std::uint64_t first, std::size_t count, unsigned char* into);
    bool writeSectors(std::uint64_t first, std::size_t count, const unsigned char* from);
    bool failWith(int error);

    std::unique_ptr<RandomAccessFile> base_;
    std::uint64_t baseVisible_ = 0; // bytes of the base that still show through
    EncryptedSectors sectors_;
    std::vector<bool> written_;
    std::uint64_t length_ = 0;
    std::vector<unsigned char> buffer_;
    int lastError_ = 0;
};

} // namespace quorvane
