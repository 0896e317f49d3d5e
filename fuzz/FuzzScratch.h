#pragma once

// What the fuzz targets share: a private scratch folder for the files they
// write, a stream that swallows output, and a check that stops the run.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <streambuf>

namespace quorvane::fuzz {

// Created on first use, removed when the process exits normally.
const std::filesystem::path& scratchFolder();

void writeFile(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size);

// An output stream that accepts and drops everything, as a device would.
class NullStream : public std::ostream {
  public:
    NullStream() : std::ostream(&buffer_) {}

  private:
    class DropBuffer : public std::streambuf {
      protected:
        std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
        int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    };
    DropBuffer buffer_;
};

// A broken promise of the code under test: reported and the run aborted, so
// that libFuzzer keeps the input.
[[noreturn]] void fail(const char* what);

inline void check(bool condition, const char* what) {
    if (!condition)
        fail(what);
}

} // namespace quorvane::fuzz
