#include "lifecycle/SafeFileWriting.h"

#include "lifecycle/SafeFormat.h"
#include "storage/AtomicReplace.h"
#include "storage/DescriptorBuffer.h"
#include "storage/SafeCipher.h"

#include <exception>
#include <fstream>

namespace quorvane {

namespace {

// Reads the fresh safe back through its descriptor and compares what it
// decrypts to with the plaintext it was made from.
bool freshSafeMatches(int fd, const std::filesystem::path& plaintext, const std::string& key,
                      const SealedKey* sealed, std::string& message) {
    DescriptorInputBuffer safeBytes(fd);
    std::istream safe(&safeBytes);
    std::ifstream plain(plaintext, std::ios::binary);
    if (!plain.is_open()) {
        message = "cannot read " + plaintext.string();
        return false;
    }
    return safeReadsBackAs(safe, plain, key, sealed, message);
}

} // namespace

bool encryptFileOnto(Shell& shell, const std::filesystem::path& plaintext,
                     const std::filesystem::path& target, const std::string& key, SafeState& state,
                     SafeFileLock* lock, const SealedKey* sealed) {
    // Taken before the step: the step itself must not call the shell.
    ProgressCallback progress = shell.byteProgress();
    state.cipherFailed = false;
    auto writeSafe = [&](std::ostream& out, std::string& message) {
        std::ifstream in(plaintext, std::ios::binary);
        // An unreadable plaintext would otherwise encrypt as an empty safe.
        if (!in.is_open()) {
            message = "cannot read " + plaintext.string();
            return false;
        }
        writeSafeInFormat(in, out, key, sealed, state.cipherFailed, state.cipherMessage, progress);
        if (state.cipherFailed) {
            message = state.cipherMessage;
            return false;
        }
        if (in.bad()) {
            message = "read error in " + plaintext.string();
            return false;
        }
        return true;
    };
    ReplaceGuard guard;
    guard.verify = [&](int fd, std::string& message) {
        return freshSafeMatches(fd, plaintext, key, sealed, message);
    };
    if (lock != nullptr) {
        guard.lockFresh = true;
        if (lock->held())
            guard.expected = lock->identity();
    }
    ReplaceResult result;
    shell.runBusy([&] {
        try {
            result = replaceFileAtomically(target, writeSafe, guard);
        } catch (const std::exception& failure) {
            result.ok = false; // e.g. no memory: the old safe is still whole
            result.reason = failure.what();
        }
    });
    if (result.ok && lock != nullptr)
        lock->adopt(result.lockedFd, result.identity);
    state.failureReason = result.ok ? "" : result.reason;
    return result.ok;
}

} // namespace quorvane
