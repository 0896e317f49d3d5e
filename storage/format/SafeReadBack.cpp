// What reads a safe back whole: the check of a freshly written safe against
// the plaintext it was made from.

#include "storage/format/CipherTexts.h"
#include "storage/format/SafeCipher.h"
#include "storage/format/StreamPosition.h"

#include <cstring>
#include <vector>

namespace quorvane {

using namespace cipher_text;

namespace {

// An output that holds nothing: each piece written to it is compared with the
// next bytes of a reference stream, and the first difference fails the write.
class ComparingBuffer : public std::streambuf {
  public:
    explicit ComparingBuffer(std::istream& reference) : reference_(reference) {}

    bool differed() const { return differed_; }
    bool referenceUnreadable() const { return reference_.bad(); }

  protected:
    int_type overflow(int_type ch) override {
        if (traits_type::eq_int_type(ch, traits_type::eof()))
            return traits_type::not_eof(ch);
        const char byte = traits_type::to_char_type(ch);
        return xsputn(&byte, 1) == 1 ? ch : traits_type::eof();
    }

    std::streamsize xsputn(const char* data, std::streamsize count) override {
        if (count <= 0)
            return 0;
        expected_.resize(static_cast<std::size_t>(count));
        reference_.read(expected_.data(), count);
        if (reference_.gcount() != count ||
            std::memcmp(expected_.data(), data, static_cast<std::size_t>(count)) != 0) {
            differed_ = true;
            return 0;
        }
        return count;
    }

  private:
    std::istream& reference_;
    std::vector<char> expected_;
    bool differed_ = false;
};

} // namespace

std::optional<Failure> safeDecryptsTo(std::istream& safe, std::istream& plaintext,
                                      const std::string& key) {
    rewindToStart(plaintext);
    ComparingBuffer comparison(plaintext);
    std::ostream compared(&comparison);
    std::optional<Failure> failed = decryptSafe(safe, compared, key);
    if (comparison.referenceUnreadable())
        return Failure{0, ReadFailed};
    // A safe that decrypts to fewer bytes than the working copy differs too.
    if (comparison.differed() || (!failed && plaintext.peek() != std::char_traits<char>::eof()))
        return Failure{0, DecryptsToOtherBytes};
    return failed;
}

} // namespace quorvane
