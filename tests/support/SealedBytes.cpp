#include "tests/support/SealedBytes.h"

#include "storage/format/SealedSafe.h"
#include "tests/support/TestFiles.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace quorvane::test {
namespace {

namespace fs = std::filesystem;

const char* referenceTool() {
    return QUORVANE_SOURCE_DIR "/tests/support/sealed_reference.py";
}

// The tool takes every byte of its password file as the password.
struct ScratchFiles {
    explicit ScratchFiles(const fs::path& beside)
        : password(beside.string() + ".password"), plain(beside.string() + ".plain") {}
    ~ScratchFiles() {
        std::error_code ignored;
        fs::remove(password, ignored);
        fs::remove(plain, ignored);
    }
    fs::path password;
    fs::path plain;
};

} // namespace

void writeSealedSafe(const fs::path& path, const std::string& password,
                     const std::string& container) {
    std::string message;
    const auto key = deriveNewSealedKey(password, message, QuickPasses, QuickMemoryKiB);
    std::istringstream in(container);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!key || !sealStream(in, out, *key, message) || !out.flush())
        throw std::runtime_error("cannot seal " + path.string() + ": " + message);
}

bool referenceSeal(const fs::path& path, const std::string& password, const std::string& container,
                   std::uint32_t passes, std::uint32_t memoryKiB, const std::string& saltHex) {
    ScratchFiles scratch(path);
    writeFile(scratch.password, password);
    writeFile(scratch.plain, container);
    return runProgram({"/usr/bin/python3", referenceTool(), "seal", scratch.password.string(),
                       scratch.plain.string(), path.string(), std::to_string(passes),
                       std::to_string(memoryKiB), saltHex}) == 0;
}

std::optional<std::string> referenceUnseal(const fs::path& path, const std::string& password) {
    ScratchFiles scratch(path);
    writeFile(scratch.password, password);
    if (runProgram({"/usr/bin/python3", referenceTool(), "unseal", scratch.password.string(),
                    path.string(), scratch.plain.string()}) != 0)
        return std::nullopt;
    return readFile(scratch.plain);
}

} // namespace quorvane::test
