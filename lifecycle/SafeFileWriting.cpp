#include "lifecycle/SafeFileWriting.h"

#include "lifecycle/SafeFormat.h"
#include "storage/files/AtomicReplace.h"
#include "storage/format/SafeCipher.h"
#include "storage/workingcopy/DescriptorBuffer.h"

#include <exception>

namespace quorvane {

namespace {

// Reads the fresh safe back through its descriptor and compares what it
// decrypts to with the plaintext it was made from.
bool freshSafeMatches(int fd, std::istream& plaintext, const std::string& key,
                      const SealedKey* sealed, std::string& message) {
    DescriptorInputBuffer safeBytes(fd);
    std::istream safe(&safeBytes);
    plaintext.clear();
    return safeReadsBackAs(safe, plaintext, key, sealed, message);
}

} // namespace

bool encryptFileOnto(Shell& shell, std::istream& plaintext, const std::filesystem::path& target,
                     const std::string& key, SafeState& state, SafeFileLock* lock,
                     const SealedKey* sealed, const std::function<void()>& whenReplaced) {
    // Taken before the step: the step itself must not call the shell.
    ProgressCallback progress = shell.byteProgress();
    state.cipherFailed = false;
    auto writeSafe = [&](std::ostream& out, std::string& message) {
        plaintext.clear();
        writeSafeInFormat(plaintext, out, key, sealed, state.cipherFailed, state.cipherMessage,
                          progress);
        if (state.cipherFailed) {
            message = state.cipherMessage;
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
        // Inside the step: closing the old safe's last descriptor frees all
        // of its blocks, which takes a while for a large safe.
        if (result.ok && lock != nullptr)
            lock->adopt(result.lockedFd, result.identity);
        if (result.ok && whenReplaced)
            whenReplaced();
    });
    plaintext.clear();
    state.failureReason = result.ok ? "" : result.reason;
    return result.ok;
}

} // namespace quorvane
