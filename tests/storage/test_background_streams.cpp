// The threads that read ahead and write behind must hand over exactly the
// bytes, in order, stop at their limit, and carry a failure of the wrapped
// stream to the caller at the place it happened.

#include "storage/workingcopy/BackgroundStreams.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace quorvane {
namespace {

constexpr std::size_t Block = 1000; // small blocks: every case crosses several

std::string bytes(std::size_t count) {
    std::string text(count, '\0');
    for (std::size_t i = 0; i < count; ++i)
        text[i] = static_cast<char>(i * 7 + i / 251);
    return text;
}

// A source whose read fails (its stream turns the throw into the bad bit) at
// `failAt`, or a sink whose write stops there; npos: never.
class FailingAt : public std::stringbuf {
  public:
    FailingAt(const std::string& content, std::size_t failAt)
        : std::stringbuf(content), failAt_(failAt) {}

  protected:
    std::streamsize xsgetn(char* data, std::streamsize count) override {
        const auto at = static_cast<std::size_t>(gptr() - eback());
        if (failAt_ != std::string::npos && at + static_cast<std::size_t>(count) > failAt_) {
            std::stringbuf::xsgetn(data, static_cast<std::streamsize>(failAt_ - at));
            throw std::ios_base::failure("Input/output error");
        }
        return std::stringbuf::xsgetn(data, count);
    }
    std::streamsize xsputn(const char* data, std::streamsize count) override {
        const auto at = static_cast<std::size_t>(pptr() - pbase());
        const auto room = static_cast<std::streamsize>(failAt_ > at ? failAt_ - at : 0);
        return std::stringbuf::xsputn(data, std::min(count, room));
    }

  private:
    std::size_t failAt_;
};

TEST(ReadAhead, HandsOverTheBytesUpToItsLimitAndAFailureWhereItHappened) {
    const std::size_t none = std::string::npos;
    struct Case {
        std::size_t size, limit, failAt;
    };
    // Over twenty blocks go round the ring of eight more than twice.
    for (const Case c : {Case{0, none, none}, Case{999, none, none}, Case{1000, none, none},
                         Case{23007, none, none}, Case{23007, 2000, none}, Case{23007, 25000, none},
                         Case{23007, 0, none}, Case{23007, none, 18500}, Case{23007, 2000, 2500},
                         Case{23007, none, 1000}}) {
        SCOPED_TRACE(testing::Message()
                     << c.size << " bytes, limit " << c.limit << ", failing at " << c.failAt);
        const std::string content = bytes(c.size);
        FailingAt buffer(content, c.failAt);
        std::istream source(&buffer);
        std::string got;
        bool bad = false;
        {
            ReadAheadStream ahead(
                source, c.limit == none ? std::nullopt : std::optional<std::uint64_t>(c.limit),
                Block);
            // Pieces that divide the block: a read call that fails loses what it had copied.
            char piece[250];
            while (ahead.read(piece, sizeof piece) || ahead.gcount() > 0)
                got.append(piece, static_cast<std::size_t>(ahead.gcount()));
            bad = ahead.bad();
        }
        const std::size_t readable = std::min({c.size, c.limit, c.failAt});
        EXPECT_EQ(bad, c.failAt < std::min(c.size, c.limit));
        // Bytes of the block that failed are not handed over; all before it are.
        const std::size_t handed = bad ? readable - readable % Block : readable;
        EXPECT_EQ(got.size(), handed);
        EXPECT_TRUE(got == content.substr(0, handed));
        if (c.limit < std::min(c.size, c.failAt)) { // nothing past the limit is taken
            EXPECT_EQ(static_cast<std::size_t>(source.tellg()), c.limit);
        }
    }
}

TEST(WriteBehind, FlushesTheBytesInOrderAndFailsWhenTheSinkStops) {
    for (const std::size_t stopAt : {std::size_t{100000}, std::size_t{17500}, std::size_t{0}}) {
        SCOPED_TRACE(stopAt);
        const std::string content = bytes(23003);
        FailingAt buffer("", stopAt);
        std::ostream sink(&buffer);
        WriteBehindStream behind(sink, Block);
        for (std::size_t at = 0; at < content.size(); at += 777)
            behind.write(content.data() + at, static_cast<std::streamsize>(
                                                  std::min<std::size_t>(777, content.size() - at)));
        behind.flush();
        EXPECT_EQ(static_cast<bool>(behind), stopAt >= content.size());
        EXPECT_TRUE(buffer.str() == content.substr(0, std::min(stopAt, content.size())))
            << buffer.str().size() << " bytes reached the sink";
    }
}

TEST(BackgroundStreams, LeavingEarlyNeitherHangsNorWritesWhatWasNotFlushed) {
    const std::string content = bytes(50000);
    std::istringstream source(content);
    {
        ReadAheadStream ahead(source, std::nullopt, Block);
        EXPECT_EQ(ahead.get(), static_cast<unsigned char>(content[0]));
    }
    std::ostringstream sink;
    {
        WriteBehindStream behind(sink, Block);
        behind.write(content.data(), 10);
    }
    EXPECT_EQ(sink.str(), "");
}

} // namespace
} // namespace quorvane
