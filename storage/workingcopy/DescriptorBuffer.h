#pragma once

// Stream buffers straight over a file descriptor, so that a failed read(2) or
// write(2) is seen with its errno: a file stream keeps only a bad bit, and a
// failed open or save must tell the user the system's reason. The descriptor
// stays the caller's.

#include <cstdint>
#include <streambuf>
#include <vector>

namespace quorvane {

class DescriptorOutputBuffer : public std::streambuf {
  public:
    explicit DescriptorOutputBuffer(int fd);
    int lastError() const { return lastError_; } // errno of the first failure, 0 if none

  protected:
    int_type overflow(int_type ch) override;
    std::streamsize xsputn(const char* data, std::streamsize count) override;
    int sync() override;

  private:
    bool drain();
    bool writeAll(const char* data, std::size_t count);
    void startWriteback();

    int fd_;
    std::vector<char> buffer_;
    int lastError_ = 0;
    std::uint64_t writtenTo_ = 0;     // the file offset after the last write
    std::uint64_t writebackFrom_ = 0; // where the bytes not yet sent to the disk start
};

class DescriptorInputBuffer : public std::streambuf {
  public:
    explicit DescriptorInputBuffer(int fd);
    int lastError() const { return lastError_; }

  protected:
    int_type underflow() override;
    std::streamsize xsgetn(char* data, std::streamsize count) override;
    // Only what the safe routines ask of their input: the position now, the
    // end, and the start.
    pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                     std::ios_base::openmode which) override;
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

  private:
    std::streamsize readSome(char* data, std::size_t count);

    int fd_;
    std::vector<char> buffer_;
    int lastError_ = 0;
};

} // namespace quorvane
