// Arbitrary bytes as a safe file: decryption under a fixed password either
// fails with a reason or gives a plaintext of the size the padding allows,
// which then loads as a container without reading beyond it.

#include "fuzz/FuzzScratch.h"
#include "storage/format/Container.h"
#include "storage/format/SafeCipher.h"
#include "storage/workingcopy/PlainFile.h"
#include "storage/workingcopy/ReadThroughSafe.h"

#include <fcntl.h>
#include <memory>

#include <fstream>
#include <sstream>
#include <string>

using namespace quorvane;
using namespace quorvane::fuzz;

namespace {

constexpr std::size_t CipherBlock = 16;

const std::string& fuzzKey() {
    static const std::string key = derivePasswordKey("fuzz");
    return key;
}

void loadAndExtract(RandomAccessFile& stream, std::uint64_t length) {
    ContainerIndex index;
    readContainerIndex(stream, index);
    check(index.workingCopyLength == length, "length differs from the plaintext");
    check(index.indexRows.size() == index.entryDetails.size(), "rows and details differ");
    NullStream sink;
    for (std::size_t row = 0; row < index.indexRows.size(); ++row)
        check(extractEntryContent(stream, index, row, sink), "a listed entry does not extract");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream safe(std::string(reinterpret_cast<const char*>(data), size));
    const std::filesystem::path plainPath = scratchFolder() / "plain";
    const std::filesystem::path safePath = scratchFolder() / "safe";
    writeFile(safePath, data, size);
    std::ofstream plain(plainPath, std::ios::binary | std::ios::trunc);
    const std::optional<Failure> failed = decryptSafe(safe, plain, fuzzKey());
    plain.close();
    // Reading through the safe at random places must agree with the whole
    // decryption: it opens exactly when that succeeds, to the same bytes.
    int error = 0;
    const std::unique_ptr<PlainFile> safeFile = PlainFile::open(safePath, O_RDONLY, error);
    check(safeFile != nullptr, "cannot open the safe");
    SafeOpenResult opening = SafeOpenResult::ReadFailed;
    const std::unique_ptr<ReadThroughSafe> through =
        ReadThroughSafe::open(safeFile->fd(), plainCipherKey(fuzzKey()), opening, error);
    check((through != nullptr) == !failed, "reading through disagrees with the decryption");
    if (failed) {
        check(!failed->detail.empty(), "a failed decryption without a reason");
        return 0;
    }
    // IV, then whole blocks of which the padding takes 1 to 16 bytes.
    check(size >= 2 * CipherBlock && size % CipherBlock == 0, "decrypted a malformed safe");
    const std::uint64_t length = std::filesystem::file_size(plainPath);
    check(length + CipherBlock + 1 <= size && length + 2 * CipherBlock >= size,
          "plaintext length does not match the ciphertext");
    const std::unique_ptr<PlainFile> plainFile = PlainFile::open(plainPath, O_RDWR, error);
    check(plainFile != nullptr, "cannot open the plaintext");
    check(through->length() == length, "reading through gives another length");
    std::string whole(length, '\0');
    std::string piece(length, '\0');
    check(plainFile->readAt(0, whole.data(), length), "cannot read the plaintext");
    const std::size_t at = length == 0 ? 0 : data[0] % length;
    check(through->readAt(at, piece.data(), length - at) &&
              piece.compare(0, length - at, whole, at, length - at) == 0,
          "reading through gives other bytes");
    loadAndExtract(*plainFile, length);
    loadAndExtract(*through, length);
    return 0;
}
