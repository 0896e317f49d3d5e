#include "lifecycle/SafeFileWriting.h"

#include "storage/AtomicReplace.h"
#include "storage/SafeCipher.h"

#include <exception>
#include <fstream>

namespace quorvane {

bool encryptFileOnto(Shell& shell, const std::filesystem::path& plaintext,
                     const std::filesystem::path& target, const std::string& key,
                     bool& cipherFailed, std::string& cipherMessage) {
    // Taken before the step: the step itself must not call the shell.
    ProgressCallback progress = shell.byteProgress();
    cipherFailed = false;
    bool written = false;
    auto writeSafe = [&](std::ostream& out, std::string& message) {
        std::ifstream in(plaintext, std::ios::binary);
        // An unreadable plaintext would otherwise encrypt as an empty safe.
        if (!in.is_open()) {
            message = "cannot read " + plaintext.string();
            return false;
        }
        encryptSafe(in, out, key, cipherFailed, cipherMessage, progress);
        if (cipherFailed) {
            message = cipherMessage;
            return false;
        }
        if (in.bad()) {
            message = "read error in " + plaintext.string();
            return false;
        }
        return true;
    };
    shell.runBusy([&] {
        try {
            written = replaceFileAtomically(target, writeSafe).ok;
        } catch (const std::exception&) {
            written = false; // e.g. no memory: the old safe is still whole
        }
    });
    return written;
}

} // namespace quorvane
