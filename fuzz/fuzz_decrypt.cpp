// Arbitrary bytes as a safe file: decryption under a fixed password either
// fails with a reason or gives a plaintext of the size the padding allows,
// which then loads as a container without reading beyond it.

#include "fuzz/FuzzScratch.h"
#include "storage/format/Container.h"
#include "storage/format/SafeCipher.h"

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

void loadAndExtract(const std::filesystem::path& path, std::uint64_t length) {
    std::fstream stream(path, std::ios::in | std::ios::out | std::ios::binary);
    check(stream.is_open(), "cannot open the plaintext");
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
    std::ofstream plain(plainPath, std::ios::binary | std::ios::trunc);
    bool failed = false;
    std::string message;
    decryptSafe(safe, plain, fuzzKey(), failed, message);
    plain.close();
    if (failed) {
        check(!message.empty(), "a failed decryption without a reason");
        return 0;
    }
    // IV, then whole blocks of which the padding takes 1 to 16 bytes.
    check(size >= 2 * CipherBlock && size % CipherBlock == 0, "decrypted a malformed safe");
    const std::uint64_t length = std::filesystem::file_size(plainPath);
    check(length + CipherBlock + 1 <= size && length + 2 * CipherBlock >= size,
          "plaintext length does not match the ciphertext");
    loadAndExtract(plainPath, length);
    return 0;
}
