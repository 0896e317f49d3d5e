#pragma once

// A RandomAccessFile as a stream, for the routines that stream a whole safe
// through a cipher: reading the working copy into a save, and writing a
// sealed safe's content into a fresh working copy. A failed read throws
// std::ios_base::failure carrying the system's reason (the stream turns it
// into its bad bit); a failed write fails the stream. The file's lastError()
// keeps the reason in both cases.

#include "storage/workingcopy/RandomAccessFile.h"

#include <istream>
#include <ostream>
#include <streambuf>
#include <vector>

namespace quorvane {

class FileReadBuffer : public std::streambuf {
  public:
    explicit FileReadBuffer(RandomAccessFile& file);

  protected:
    int_type underflow() override;
    pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                     std::ios_base::openmode which) override;
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

  private:
    RandomAccessFile& file_;
    std::vector<char> buffer_;
    std::uint64_t bufferStart_ = 0; // the file offset of the buffer's first byte
};

class FileWriteBuffer : public std::streambuf {
  public:
    explicit FileWriteBuffer(RandomAccessFile& file);
    ~FileWriteBuffer() override;

  protected:
    int_type overflow(int_type ch) override;
    int sync() override;

  private:
    bool drain();

    RandomAccessFile& file_;
    std::vector<char> buffer_;
    std::uint64_t position_ = 0;
};

class FileInputStream : public std::istream {
  public:
    explicit FileInputStream(RandomAccessFile& file) : std::istream(nullptr), buffer_(file) {
        rdbuf(&buffer_);
    }

  private:
    FileReadBuffer buffer_;
};

class FileOutputStream : public std::ostream {
  public:
    explicit FileOutputStream(RandomAccessFile& file) : std::ostream(nullptr), buffer_(file) {
        rdbuf(&buffer_);
    }

  private:
    FileWriteBuffer buffer_;
};

} // namespace quorvane
