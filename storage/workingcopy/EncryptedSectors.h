#pragma once

// A file of 4 KiB sectors, each encrypted with AES-256-XTS (tweak: the
// sector's number) under a random key made for this file alone, which never
// leaves memory. Sector i lies at byte i * 4 KiB; sectors never written are
// holes that nobody reads (the caller knows which are written). A file left
// behind by a crash is ciphertext under a key that no longer exists.
//
// The file is created at the first write, so that a session that only reads
// leaves nothing on disk.

#include "storage/files/UniqueFd.h"
#include "storage/workingcopy/SessionKey.h"
#include "storage/workingcopy/XtsSectorCipher.h"

#include <cstdint>
#include <filesystem>
#include <vector>

namespace quorvane {

inline constexpr std::size_t SectorSize = 4096;

class EncryptedSectors {
  public:
    explicit EncryptedSectors(std::filesystem::path path);
    ~EncryptedSectors();
    EncryptedSectors(const EncryptedSectors&) = delete;
    EncryptedSectors& operator=(const EncryptedSectors&) = delete;

    // count whole sectors from first; false with lastError() on failure.
    bool read(std::uint64_t first, std::size_t count, unsigned char* into);
    bool write(std::uint64_t first, std::size_t count, const unsigned char* from);
    // Gives up every sector from count on (the file's blocks go back to the system).
    bool keepFirst(std::uint64_t count);
    bool sync();
    // Closes and removes the file; the key is wiped. The object can be written again.
    void remove();
    bool exists() const { return fd_.valid(); }
    int lastError() const { return lastError_; }

  private:
    bool ensureFile();
    bool failWith(int error);

    std::filesystem::path path_;
    UniqueFd fd_;
    SessionKey key_;
    XtsSectorCipher cipher_;
    std::vector<unsigned char> scratch_;
    int lastError_ = 0;
};

} // namespace quorvane
