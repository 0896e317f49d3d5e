#include "storage/workingcopy/BackgroundStreams.h"

#include <algorithm>
#include <cstring>
#include <ios>

namespace quorvane {

ReadAheadBuffer::ReadAheadBuffer(std::istream& source, std::optional<std::uint64_t> limit,
                                 std::size_t blockSize)
    : source_(source), left_(limit), blocks_(BackgroundBlocks) {
    for (Block& block : blocks_)
        block.bytes.resize(blockSize);
    setg(nullptr, nullptr, nullptr);
    reader_ = std::thread([this] { readAll(); });
}

ReadAheadBuffer::~ReadAheadBuffer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    reader_.join();
}

// Fills one block from the source; false when nothing is to be read after it.
bool ReadAheadBuffer::fill(Block& block) {
    const std::size_t wanted =
        left_ ? static_cast<std::size_t>(std::min<std::uint64_t>(*left_, block.bytes.size()))
              : block.bytes.size();
    block.count = 0;
    block.broken = false;
    try {
        source_.read(block.bytes.data(), static_cast<std::streamsize>(wanted));
        block.count = static_cast<std::size_t>(source_.gcount());
        block.broken = source_.bad();
    } catch (const std::exception& error) { // the source was told to throw, or no memory
        block.broken = true;
        block.reason = error.what();
    }
    if (left_)
        *left_ -= block.count;
    block.last = block.broken || block.count < wanted || (left_ && *left_ == 0);
    return !block.last;
}

void ReadAheadBuffer::readAll() {
    for (;;) {
        std::size_t at = 0;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return stopping_ || filled_ < blocks_.size(); });
            if (stopping_)
                return;
            at = (next_ + filled_) % blocks_.size();
        }
        // The caller never touches a block that is not yet filled.
        const bool more = fill(blocks_[at]);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++filled_;
        }
        changed_.notify_all();
        if (!more)
            return;
    }
}

// Gives the block the caller has read back to the thread and waits for the
// next one. False at the end of what is to be read.
bool ReadAheadBuffer::takeNextBlock() {
    if (ended_)
        return false;
    std::unique_lock<std::mutex> lock(mutex_);
    if (eback() != nullptr) {
        --filled_;
        next_ = (next_ + 1) % blocks_.size();
        setg(nullptr, nullptr, nullptr);
        changed_.notify_all();
    }
    changed_.wait(lock, [this] { return filled_ > 0; });
    Block& block = blocks_[next_];
    ended_ = block.last;
    if (block.broken)
        throw std::ios_base::failure(block.reason.empty() ? "the read failed" : block.reason);
    char* start = block.bytes.data();
    setg(start, start, start + block.count);
    return block.count > 0;
}

ReadAheadBuffer::int_type ReadAheadBuffer::underflow() {
    while (gptr() == egptr()) {
        if (!takeNextBlock())
            return traits_type::eof();
    }
    return traits_type::to_int_type(*gptr());
}

std::streamsize ReadAheadBuffer::xsgetn(char* data, std::streamsize count) {
    std::streamsize done = 0;
    while (done < count) {
        if (gptr() == egptr() && traits_type::eq_int_type(underflow(), traits_type::eof()))
            break;
        const auto piece = std::min<std::streamsize>(egptr() - gptr(), count - done);
        std::memcpy(data + done, gptr(), static_cast<std::size_t>(piece));
        gbump(static_cast<int>(piece));
        done += piece;
    }
    return done;
}

WriteBehindBuffer::WriteBehindBuffer(std::ostream& sink, std::size_t blockSize)
    : sink_(sink), blocks_(BackgroundBlocks) {
    for (Block& block : blocks_)
        block.bytes.resize(blockSize);
    setp(blocks_[0].bytes.data(), blocks_[0].bytes.data() + blockSize);
    writer_ = std::thread([this] { writeAll(); });
}

WriteBehindBuffer::~WriteBehindBuffer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    writer_.join();
}

void WriteBehindBuffer::writeAll() {
    for (;;) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return pending_ > 0 || stopping_; });
        if (pending_ == 0)
            return;
        const Block& block = blocks_[oldest_];
        lock.unlock();
        bool written = false;
        try {
            sink_.write(block.bytes.data(), static_cast<std::streamsize>(block.count));
            if (block.flushAfter)
                sink_.flush();
            written = static_cast<bool>(sink_);
        } catch (const std::exception&) { // the sink was told to throw, or no memory
        }
        lock.lock();
        oldest_ = (oldest_ + 1) % blocks_.size();
        --pending_;
        failed_ = failed_ || !written;
        changed_.notify_all();
    }
}

// Hands the thread the block the caller filled and gives the caller the next
// one, once the thread has written it. False once a write failed.
bool WriteBehindBuffer::handOver(bool flushSink) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return pending_ + 1 < blocks_.size() || failed_; });
    if (failed_)
        return false;
    Block& filled = blocks_[(oldest_ + pending_) % blocks_.size()];
    filled.count = static_cast<std::size_t>(pptr() - pbase());
    filled.flushAfter = flushSink;
    ++pending_;
    std::vector<char>& next = blocks_[(oldest_ + pending_) % blocks_.size()].bytes;
    setp(next.data(), next.data() + next.size());
    changed_.notify_all();
    return true;
}

bool WriteBehindBuffer::waitUntilWritten() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return pending_ == 0; });
    return !failed_;
}

WriteBehindBuffer::int_type WriteBehindBuffer::overflow(int_type ch) {
    if (!handOver(false))
        return traits_type::eof();
    if (traits_type::eq_int_type(ch, traits_type::eof()))
        return traits_type::not_eof(ch);
    *pptr() = traits_type::to_char_type(ch);
    pbump(1);
    return ch;
}

std::streamsize WriteBehindBuffer::xsputn(const char* data, std::streamsize count) {
    std::streamsize done = 0;
    while (done < count) {
        if (pptr() == epptr() && !handOver(false))
            break;
        const auto piece = std::min<std::streamsize>(epptr() - pptr(), count - done);
        std::memcpy(pptr(), data + done, static_cast<std::size_t>(piece));
        pbump(static_cast<int>(piece));
        done += piece;
    }
    return done;
}

int WriteBehindBuffer::sync() {
    return handOver(true) && waitUntilWritten() ? 0 : -1;
}

} // namespace quorvane
