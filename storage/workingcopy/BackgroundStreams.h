#pragma once

// Streams that move the slow side of a long copy into a thread of its own, so
// that reading, the cipher and writing overlap on a machine with more than one
// core. Each holds a ring of blocks: the caller works on one while the thread
// fills or empties the others, so that neither waits for the other at every
// block. The wrapped stream belongs to the thread from construction to
// destruction (ReadAheadStream) or to each flush (WriteBehindStream); the
// caller must not touch it meanwhile.

#include "storage/Progress.h"

#include <condition_variable>
#include <cstdint>
#include <istream>
#include <mutex>
#include <optional>
#include <ostream>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

namespace quorvane {

// Blocks of a quarter of the copies' block, eight to a ring: 2 MiB in all per
// stream keeps a step's memory flat, and a thread woken only every few blocks
// does not lose its time to waking up (handing over at every block, with two
// blocks, made a save of 1 GiB twice as slow on two cores).
inline constexpr std::size_t BackgroundBlockSize = StreamBlockSize / 4;
inline constexpr std::size_t BackgroundBlocks = 8;

// Reads `source` from where it stands, up to `limit` bytes (to its end when
// there is none), a block ahead of the caller. A failed read of the source
// reaches the caller at the same place, as this stream's bad bit.
class ReadAheadBuffer : public std::streambuf {
  public:
    ReadAheadBuffer(std::istream& source, std::optional<std::uint64_t> limit,
                    std::size_t blockSize = BackgroundBlockSize);
    ~ReadAheadBuffer() override;
    ReadAheadBuffer(const ReadAheadBuffer&) = delete;
    ReadAheadBuffer& operator=(const ReadAheadBuffer&) = delete;

  protected:
    int_type underflow() override;
    std::streamsize xsgetn(char* data, std::streamsize count) override;

  private:
    struct Block {
        std::vector<char> bytes;
        std::size_t count = 0;
        bool last = false;   // nothing follows it
        bool broken = false; // the read that filled it failed
        std::string reason;
    };
    void readAll();
    bool fill(Block& block);
    bool takeNextBlock();

    std::istream& source_;
    std::optional<std::uint64_t> left_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Block> blocks_;
    std::size_t filled_ = 0; // blocks filled for the caller, the one it reads included
    std::size_t next_ = 0;   // the block the caller reads, or takes next
    bool stopping_ = false;
    bool ended_ = false; // the caller has seen the last block
    std::thread reader_;
};

class ReadAheadStream : public std::istream {
  public:
    ReadAheadStream(std::istream& source, std::optional<std::uint64_t> limit,
                    std::size_t blockSize = BackgroundBlockSize)
        : std::istream(nullptr), buffer_(source, limit, blockSize) {
        rdbuf(&buffer_);
    }

  private:
    ReadAheadBuffer buffer_;
};

// Hands what is written to `sink` in blocks, written by a thread while the
// caller makes the next block. A failed write of the sink fails this stream at
// the next block or flush. A flush returns when everything is in the sink and
// the sink is flushed. What was not flushed when it is destroyed is dropped.
class WriteBehindBuffer : public std::streambuf {
  public:
    explicit WriteBehindBuffer(std::ostream& sink, std::size_t blockSize = BackgroundBlockSize);
    ~WriteBehindBuffer() override;
    WriteBehindBuffer(const WriteBehindBuffer&) = delete;
    WriteBehindBuffer& operator=(const WriteBehindBuffer&) = delete;

  protected:
    int_type overflow(int_type ch) override;
    std::streamsize xsputn(const char* data, std::streamsize count) override;
    int sync() override;

  private:
    void writeAll();
    bool handOver(bool flushSink);
    bool waitUntilWritten();

    std::ostream& sink_;
    std::mutex mutex_;
    std::condition_variable changed_;
    struct Block {
        std::vector<char> bytes;
        std::size_t count = 0;
        bool flushAfter = false; // the sink is flushed once this block is in it
    };
    std::vector<Block> blocks_;
    std::size_t oldest_ = 0;  // the block the thread writes next
    std::size_t pending_ = 0; // blocks handed to the thread; the caller's follows them
    bool failed_ = false;
    bool stopping_ = false;
    std::thread writer_;
};

class WriteBehindStream : public std::ostream {
  public:
    explicit WriteBehindStream(std::ostream& sink, std::size_t blockSize = BackgroundBlockSize)
        : std::ostream(nullptr), buffer_(sink, blockSize) {
        rdbuf(&buffer_);
    }

  private:
    WriteBehindBuffer buffer_;
};

} // namespace quorvane
