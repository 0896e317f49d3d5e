#include "lifecycle/SafeFormat.h"

#include "lifecycle/Lifecycle.h"
#include "lifecycle/LifecycleTexts.h"
#include "storage/format/SafeCipher.h"

#include <exception>

namespace quorvane {

namespace {

SafeRead readSealedSafe(SafeState& state, std::istream& in, std::ostream& plain,
                        const SealParameters& parameters, const ProgressCallback& progress) {
    auto key = std::make_unique<SealedKey>();
    std::string message;
    if (!key->derive(state.password, parameters, message)) {
        state.cipherMessage = state.failureReason = message;
        return SafeRead::KeyFailed;
    }
    const UnsealOutcome outcome = unsealStream(in, plain, *key, message, progress);
    if (outcome == UnsealOutcome::Done) {
        state.cipherFailed = false;
        state.sealedKey = std::move(key);
        return SafeRead::Done;
    }
    state.cipherMessage = message;
    if (outcome != UnsealOutcome::Damaged)
        return SafeRead::Refused; // read and write failures: the caller knows them by errno
    // Our own words tell the user what happened; no system reason goes below them.
    state.failureReason.clear();
    return SafeRead::Damaged;
}

} // namespace

SafeRead readSafeInItsFormat(SafeState& state, std::istream& in, std::ostream& plain,
                             const std::string& plainKey, const ProgressCallback& progress) {
    state.sealedKey.reset();
    state.cipherFailed = true;
    SealParameters parameters;
    switch (readSealedHeader(in, parameters)) {
    case SealedHeaderRead::NotSealed:
        decryptSafe(in, plain, plainKey, state.cipherFailed, state.cipherMessage, progress);
        return state.cipherFailed ? SafeRead::Refused : SafeRead::Done;
    case SealedHeaderRead::Read:
        return readSealedSafe(state, in, plain, parameters, progress);
    case SealedHeaderRead::Unacceptable: // refused before any work on the key
    case SealedHeaderRead::ReadFailed:
        break;
    }
    return SafeRead::Refused;
}

void writeSafeInFormat(std::istream& in, std::ostream& out, const std::string& plainKey,
                       const SealedKey* sealed, bool& cipherFailed, std::string& cipherMessage,
                       const ProgressCallback& progress) {
    if (sealed == nullptr) {
        encryptSafe(in, out, plainKey, cipherFailed, cipherMessage, progress);
        return;
    }
    std::string message;
    cipherFailed = !sealStream(in, out, *sealed, message, progress);
    if (cipherFailed)
        cipherMessage = message;
}

bool safeReadsBackAs(std::istream& safe, std::istream& plain, const std::string& plainKey,
                     const SealedKey* sealed, std::string& message) {
    return sealed == nullptr ? safeDecryptsTo(safe, plain, plainKey, message)
                             : safeUnsealsTo(safe, plain, *sealed, message);
}

std::unique_ptr<SealedKey> deriveKeyForSealing(Session& session, const std::string& progressText) {
    std::unique_ptr<SealedKey> key;
    std::string message;
    const std::string password = session.state.password;
    session.shell.busy.ShowProgress(progressText);
    session.shell.busy.runBusy([&] {
        try {
            key = deriveNewSealedKey(password, message);
        } catch (const std::exception& failure) { // no memory for the key
            message = failure.what();
        }
    });
    session.shell.busy.HideProgress();
    if (!key)
        session.shell.talk.showMessage(lifecycle_text::KeyNotDerived + message,
                                       lifecycle_text::Error, MessageIcon::Error);
    return key;
}

} // namespace quorvane
