// What reads a safe back whole: the check of a freshly written safe against
// the plaintext it was made from, and the decryption of a safe into a file.

#include "storage/format/CipherTexts.h"
#include "storage/format/SafeCipher.h"
#include "storage/format/StreamPosition.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <system_error>
#include <vector>

namespace quorvane {

using namespace cipher_text;

namespace {

// Creates (or empties) the plaintext file readable by its owner only, before
// any plaintext goes into it; an existing file keeps its inode but loses any
// wider mode it had.
bool createOwnerOnlyFile(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool narrowed = ::fchmod(fd, 0600) == 0;
    const bool closed = ::close(fd) == 0;
    return narrowed && closed;
}

// Leaves no partly decrypted bytes behind: emptied first, in case another
// name still links to the file, then removed.
void discardPlaintext(const std::filesystem::path& path) {
    std::error_code ignored;
    std::filesystem::resize_file(path, 0, ignored);
    std::filesystem::remove(path, ignored);
}

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

bool safeDecryptsTo(std::istream& safe, std::istream& plaintext, const std::string& key,
                    std::string& message) {
    rewindToStart(plaintext);
    ComparingBuffer comparison(plaintext);
    std::ostream compared(&comparison);
    bool failed = false;
    decryptSafe(safe, compared, key, failed, message);
    if (comparison.referenceUnreadable()) {
        message = ReadFailed;
        return false;
    }
    // A safe that decrypts to fewer bytes than the working copy differs too.
    if (comparison.differed() || (!failed && plaintext.peek() != std::char_traits<char>::eof())) {
        message = DecryptsToOtherBytes;
        return false;
    }
    return !failed;
}

void decryptSafeFile(const std::filesystem::path& safePath,
                     const std::filesystem::path& plaintextPath, const std::string& key,
                     bool& cipherFailed, std::string& cipherMessage,
                     const ProgressCallback& progress) {
    std::ifstream in(safePath, std::ios::binary);
    if (!in.is_open()) {
        cipherFailed = true;
        cipherMessage = EncryptedInputNotOpen;
        return;
    }
    std::error_code ignored;
    if (std::filesystem::equivalent(safePath, plaintextPath, ignored)) {
        // Creating the output would empty the very safe that is to be read.
        cipherFailed = true;
        cipherMessage = OutputIsTheSafe;
        return;
    }
    if (!createOwnerOnlyFile(plaintextPath)) {
        cipherFailed = true;
        cipherMessage = OutputNotOpen;
        return;
    }
    std::ofstream out(plaintextPath, std::ios::binary | std::ios::trunc);
    decryptSafe(in, out, key, cipherFailed, cipherMessage, progress);
    out.close();
    if (!cipherFailed && out.fail()) {
        cipherFailed = true;
        cipherMessage = WriteFailed;
    }
    if (cipherFailed)
        discardPlaintext(plaintextPath);
}

} // namespace quorvane
