#pragma once

// The working copy of an open safe: the plaintext container as the operations
// see it, kept on disk only encrypted. The file is a row of 4 KiB sectors,
// each encrypted with AES-256-XTS (tweak: the sector's number) under a random
// key made for this session alone, which never leaves memory. Sector 0 holds
// the container's length; the container's bytes start at sector 1. A working
// copy left behind by a crash is ciphertext under a key that no longer exists.
//
// It is an iostream with one position for reading and writing, as a file
// stream has: seek, read and write anywhere, grow by writing past the end,
// resize. Decrypted sectors are kept in a window of a few hundred KiB; what
// was written reaches the file at flush (sync), a seek outside the window or
// close. A failed read throws std::ios_base::failure carrying the system's
// reason (the stream turns it into its bad bit); a failed write fails the
// flush, and lastError() keeps the reason.

#include "storage/workingcopy/SessionKey.h"

#include "storage/workingcopy/XtsSectorCipher.h"

#include <cstdint>
#include <filesystem>
#include <istream>
#include <streambuf>
#include <vector>

namespace quorvane {

class WorkingCopyBuffer : public std::streambuf {
  public:
    WorkingCopyBuffer();
    ~WorkingCopyBuffer() override;
    WorkingCopyBuffer(const WorkingCopyBuffer&) = delete;
    WorkingCopyBuffer& operator=(const WorkingCopyBuffer&) = delete;

    // Makes a new, empty working copy at path (mode 0600; an existing file or
    // link there is refused) under a fresh key. errno on failure.
    bool create(const std::filesystem::path& path);
    bool isOpen() const { return fd_ >= 0; }
    // Writes what is pending and closes; false when that write failed.
    bool close();

    std::uint64_t length() const { return length_; }
    // Cuts or extends (with zeros) the container to length.
    bool resize(std::uint64_t length);
    // Writes what is pending and forces it to the disk.
    bool syncToDisk();
    // Forgets what was written but not yet stored (after a failed write, so
    // that a later flush does not try it again over what is put back).
    void dropPending();
    int lastError() const { return lastError_; }

  protected:
    std::streamsize xsgetn(char* data, std::streamsize count) override;
    std::streamsize xsputn(const char* data, std::streamsize count) override;
    int_type underflow() override;
    int_type uflow() override;
    int_type overflow(int_type ch) override;
    pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                     std::ios_base::openmode which) override;
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override;
    int sync() override;

  private:
    bool loadWindow(std::uint64_t sector);
    bool storeWindow();
    bool fillGap(std::uint64_t newLength);
    bool storeLength();
    bool readSectors(std::uint64_t first, std::size_t count, unsigned char* into);
    bool writeSectors(std::uint64_t first, std::size_t count, const unsigned char* from);
    bool failWith(int error);

    int fd_ = -1;
    SessionKey key_;
    XtsSectorCipher cipher_;
    std::uint64_t length_ = 0;   // the container's length
    std::uint64_t position_ = 0; // where the next read or write happens
    bool lengthChanged_ = false;
    // The decrypted window: windowSectors_ sectors of data from windowFirst_.
    std::vector<unsigned char> window_;
    std::vector<unsigned char> scratch_;
    std::uint64_t windowFirst_ = 0;
    std::size_t windowSectors_ = 0;
    std::size_t dirtyFrom_ = 0; // sectors [dirtyFrom_, dirtyTo_) of the window are changed
    std::size_t dirtyTo_ = 0;
    int lastError_ = 0;
};

class WorkingCopyFile : public std::iostream {
  public:
    WorkingCopyFile() : std::iostream(nullptr) { rdbuf(&buffer_); }

    bool create(const std::filesystem::path& path);
    bool is_open() const { return buffer_.isOpen(); }
    void close();
    std::uint64_t length() const { return buffer_.length(); }
    bool resize(std::uint64_t length) { return buffer_.resize(length); }
    bool syncToDisk() { return buffer_.syncToDisk(); }
    void dropPending() { buffer_.dropPending(); }
    int lastError() const { return buffer_.lastError(); }

  private:
    WorkingCopyBuffer buffer_;
};

} // namespace quorvane
