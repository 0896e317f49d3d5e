#include "lifecycle/SafeFormat.h"

#include "storage/format/SafeCipher.h"

namespace quorvane {

namespace {

SafeReadResult readSealedSafe(SafeState& state, std::istream& in, std::ostream& plain,
                              const SealParameters& parameters, const ProgressCallback& progress) {
    auto key = std::make_unique<SealedKey>();
    std::string message;
    if (!key->derive(state.password, parameters, message))
        return {SafeRead::KeyFailed, {0, message}};
    const UnsealResult outcome = unsealStream(in, plain, *key, message, progress);
    if (outcome == UnsealResult::Done) {
        state.sealedKey = std::move(key);
        return {SafeRead::Done, {}};
    }
    if (outcome != UnsealResult::Damaged)
        return {SafeRead::Refused, {}}; // read and write failures: the caller knows them by errno
    // Our own words tell the user what happened; no system reason goes below them.
    return {SafeRead::Damaged, {}};
}

} // namespace

SafeReadResult readSafeInItsFormat(SafeState& state, std::istream& in, std::ostream& plain,
                                   const std::string& plainKey, const ProgressCallback& progress) {
    state.sealedKey.reset();
    SealParameters parameters;
    switch (readSealedHeader(in, parameters)) {
    case SealedHeaderRead::NotSealed:
        if (decryptSafe(in, plain, plainKey, progress))
            return {SafeRead::Refused, {}};
        return {SafeRead::Done, {}};
    case SealedHeaderRead::Read:
        return readSealedSafe(state, in, plain, parameters, progress);
    case SealedHeaderRead::Unacceptable: // refused before any work on the key
    case SealedHeaderRead::ReadFailed:
        break;
    }
    return {SafeRead::Refused, {}};
}

} // namespace quorvane
