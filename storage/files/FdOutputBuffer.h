#pragma once

#include <streambuf>

namespace quorvane {

// An output stream buffer that hands every write straight to a file
// descriptor and remembers the system's reason when a write fails. Extracted
// files are opened with open(2) (so that a link in the folder is never
// followed), and their content arrives in large blocks, so no buffer of its
// own is needed. The descriptor stays the caller's.
class FdOutputBuffer : public std::streambuf {
  public:
    explicit FdOutputBuffer(int fd) : fd_(fd) {}

    // errno of the first failed write, 0 while all went well.
    int error() const { return error_; }

  protected:
    int_type overflow(int_type ch) override;
    std::streamsize xsputn(const char_type* data, std::streamsize count) override;

  private:
    bool writeAll(const char* data, std::size_t count);

    int fd_;
    int error_ = 0;
};

} // namespace quorvane
