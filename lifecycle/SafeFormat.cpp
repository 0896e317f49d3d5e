#include "lifecycle/SafeFormat.h"

#include "storage/format/SafeCipher.h"

namespace quorvane {

namespace {

SafeReadResult readSealedSafe(SafeState& state, std::istream& in, std::ostream& plain,
                              const SealParameters& parameters, const ProgressCallback& progress) {
    auto key = std::make_unique<SealedKey>();
    if (std::optional<Failure> failed = key->derive(state.password, parameters))
        return {SafeRead::KeyFailed, std::move(*failed)};
    const Unsealing outcome = unsealStream(in, plain, *key, progress).outcome;
    if (outcome == Unsealing::Done) {
        state.sealedKey = std::move(key);
        return {SafeRead::Done, {}};
    }
    if (outcome != Unsealing::Damaged)
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
    case SealedHeaderResult::NotSealed:
        if (decryptSafe(in, plain, plainKey, progress))
            return {SafeRead::Refused, {}};
        return {SafeRead::Done, {}};
    case SealedHeaderResult::Read:
        return readSealedSafe(state, in, plain, parameters, progress);
    case SealedHeaderResult::Unacceptable: // refused before any work on the key
    case SealedHeaderResult::ReadFailed:
        break;
    }
    return {SafeRead::Refused, {}};
}

} // namespace quorvane
