#pragma once

// A RandomAccessFile straight over a descriptor: the source of an add, and
// the containers of the tools, tests and benchmarks.

#include "storage/files/UniqueFd.h"
#include "storage/workingcopy/RandomAccessFile.h"

#include <filesystem>
#include <memory>

namespace quorvane {

// Reads up to count bytes at offset, through interruptions and short reads;
// fewer only at the end of the file. The number read, or -1 with errno.
long long readFully(int fd, void* into, std::size_t count, std::uint64_t offset);
// Writes all count bytes at offset; 0, or the errno of the failure (ENOSPC
// when the system wrote nothing without saying why).
int writeFully(int fd, const void* from, std::size_t count, std::uint64_t offset);

class PlainFile : public RandomAccessFile {
  public:
    // Opens path with open(2)'s flags and mode (O_CLOEXEC is added); null with
    // errno in error when it cannot.
    static std::unique_ptr<PlainFile> open(const std::filesystem::path& path, int flags, int& error,
                                           unsigned mode = 0600);
    // Takes over fd, which is closed with the object.
    explicit PlainFile(int fd);
    ~PlainFile() override;
    PlainFile(const PlainFile&) = delete;
    PlainFile& operator=(const PlainFile&) = delete;

    bool readAt(std::uint64_t offset, void* into, std::size_t count) override;
    bool writeAt(std::uint64_t offset, const void* from, std::size_t count) override;
    std::uint64_t length() const override;
    bool resize(std::uint64_t length) override;
    bool sync() override;
    int lastError() const override { return lastError_; }
    int fd() const { return fd_.get(); }

  private:
    bool failWith(int error);

    UniqueFd fd_;
    int lastError_ = 0;
};

} // namespace quorvane
