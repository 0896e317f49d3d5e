#include "lifecycle/EntryListing.h"
#include "lifecycle/Lifecycle.h"
#include "lifecycle/LifecycleTexts.h"
#include "lifecycle/SafeFormat.h"
#include "lifecycle/SafeReadable.h"
#include "storage/files/DescriptorBuffer.h"
#include "storage/format/SafeCipher.h"
#include "storage/format/sealed/VaultHeader.h"
#include "storage/workingcopy/FileStreams.h"
#include "storage/workingcopy/PlainFile.h"
#include "storage/workingcopy/ReadThroughSafe.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace quorvane {

namespace {

void showError(Shell& shell, const std::string& text, const char* caption = lifecycle_text::Error) {
    shell.talk.showMessage(text, caption, MessageIcon::Error);
}

enum class Decrypted { Done, Refused, ReadFailed, WriteFailed, Damaged };

// How a decryption ended; a failure of the system (ReadFailed, WriteFailed)
// carries its words, which the user is shown below our own.
struct DecryptResult {
    Decrypted end = Decrypted::Refused;
    Failure failure;
};

DecryptResult systemFailed(Decrypted end, int error) {
    return {end, {error, std::strerror(error)}};
}

// A plain safe is read where it is needed: the padding of its last block is
// checked now (what a whole decryption checks), and the header and index are
// read through the cipher by the load that follows. Nothing is written.
DecryptResult openPlainSafe(SafeState& state, const std::string& key) {
    SafeOpenResult opening = SafeOpenResult::ReadFailed;
    int error = 0;
    std::unique_ptr<ReadThroughSafe> base =
        ReadThroughSafe::open(state.safeLock.fd(), plainCipherKey(key), opening, error);
    if (opening == SafeOpenResult::NotASafe)
        return {Decrypted::Refused, {}};
    if (!base)
        return systemFailed(Decrypted::ReadFailed, error);
    state.workingCopy = std::make_unique<WorkingCopy>(workingCopyPath(state), std::move(base));
    return {Decrypted::Done, {}};
}

// A sealed safe is a chained, authenticated stream: it is checked and
// decrypted whole into a working copy of its own. Bytes that do not decrypt
// are Refused; a failed read of the safe or a failed write of the working copy
// is the system's failure, with its reason.
DecryptResult openSealedSafe(SafeState& state, const std::string& key,
                             const ProgressCallback& progress) {
    state.workingCopy = std::make_unique<WorkingCopy>(workingCopyPath(state));
    DescriptorInputBuffer safeBytes(state.safeLock.fd());
    std::istream in(&safeBytes);
    SafeReadResult read;
    {
        FileOutputStream plain(*state.workingCopy);
        read = readSafeInItsFormat(state, in, plain, key, progress);
        plain.flush();
    }
    if (safeBytes.lastError() != 0)
        return systemFailed(Decrypted::ReadFailed, safeBytes.lastError());
    if (state.workingCopy->lastError() != 0)
        return systemFailed(Decrypted::WriteFailed, state.workingCopy->lastError());
    switch (read.read) {
    case SafeRead::Done:
        return {Decrypted::Done, {}};
    case SafeRead::KeyFailed:
        return {Decrypted::ReadFailed, read.failure};
    case SafeRead::Damaged: // our own words say what happened
        return {Decrypted::Damaged, {}};
    case SafeRead::Refused:
        break;
    }
    return {Decrypted::Refused, {}};
}

// Whether the locked safe file is a vault (the second sealed version).
bool isVaultFile(int fd) {
    unsigned char first[vault::SignatureSize + 4] = {};
    const long long got = readFully(fd, first, sizeof first, 0);
    return got > 0 &&
           vault::sealedFormatOf(first, static_cast<std::size_t>(got)) == vault::FormatNumber;
}

// A vault is opened in place: the header, the key and the index are read;
// contents are read when they are asked for. Its changes are written into
// the safe file itself, through a descriptor of its own on the locked file.
// A file this user may not write opens for reading only.
DecryptResult openVaultSafe(SafeState& state) {
    const std::filesystem::path file = descriptorPath(state.safeLock.fd());
    int error = 0;
    bool writable = true;
    std::unique_ptr<PlainFile> safe = PlainFile::open(file, O_RDWR, error);
    if (!safe && (error == EACCES || error == EROFS || error == EPERM)) {
        writable = false;
        safe = PlainFile::open(file, O_RDONLY, error);
    }
    if (!safe)
        return systemFailed(Decrypted::ReadFailed, error);
    vault::OpenResult opening = vault::OpenResult::ReadFailed;
    std::unique_ptr<vault::Vault> opened =
        vault::Vault::open(std::move(safe), state.password, writable, opening);
    switch (opening) {
    case vault::OpenResult::Opened:
        state.readOnly = !writable;
        state.vault = std::make_unique<VaultContents>(std::move(opened));
        return {Decrypted::Done, {}};
    case vault::OpenResult::Damaged: // our own words say what happened
        return {Decrypted::Damaged, {}};
    case vault::OpenResult::ReadFailed:
        return systemFailed(Decrypted::ReadFailed, EIO);
    case vault::OpenResult::KeyFailed:
        return {Decrypted::ReadFailed, {0, lifecycle_text::KeyNotDerived}};
    default:
        return {Decrypted::Refused, {}};
    }
}

// Whether the locked safe file is sealed, from its first bytes.
SealedHeaderResult sealedHeaderOf(int fd) {
    DescriptorInputBuffer safeBytes(fd);
    std::istream in(&safeBytes);
    SealParameters parameters;
    return readSealedHeader(in, parameters);
}

// Opens the locked safe file into a working copy, in its format. Whatever
// was refused leaves no working copy behind.
DecryptResult decryptLockedSafe(SafeState& state, const std::string& key,
                                const ProgressCallback& progress) {
    state.sealedKey.reset();
    DecryptResult outcome;
    if (isVaultFile(state.safeLock.fd())) {
        outcome = openVaultSafe(state);
        if (outcome.end != Decrypted::Done)
            discardWorkingCopy(state);
        return outcome;
    }
    switch (sealedHeaderOf(state.safeLock.fd())) {
    case SealedHeaderResult::NotSealed:
        outcome = openPlainSafe(state, key);
        break;
    case SealedHeaderResult::Read:
        outcome = openSealedSafe(state, key, progress);
        break;
    case SealedHeaderResult::Unacceptable: // refused before any work on the key
    case SealedHeaderResult::ReadFailed:
        break;
    }
    if (outcome.end != Decrypted::Done)
        discardWorkingCopy(state);
    return outcome;
}

DecryptResult decryptIntoWorkingCopy(Session& session) {
    SafeState& state = session.state;
    const std::string key = derivePasswordKey(state.password);
    ProgressCallback progress = session.shell.busy.byteProgress();
    DecryptResult outcome;
    session.shell.busy.runBusy([&] {
        try {
            outcome = decryptLockedSafe(state, key, progress);
        } catch (const std::exception& failure) { // e.g. no memory for the buffers
            outcome = {Decrypted::WriteFailed, {0, failure.what()}};
            discardWorkingCopy(state);
        }
    });
    return outcome;
}

// Takes the safe file's lock. A safe that another program has open is
// refused with our words; a file that cannot be opened at all goes on to
// the decryption, which refuses it as it always has.
bool lockSafeFile(Session& session, const std::string& sourcePath) {
    if (session.state.safeLock.acquire(sourcePath) != LockResult::Busy)
        return true;
    session.shell.busy.HideProgress();
    showError(session.shell, lifecycle_text::SafeInUse);
    return false;
}

OpenResult failedOpen(Session& session, const std::string& text, const Failure& failure) {
    discardWorkingCopy(session.state);
    session.shell.busy.HideProgress();
    session.shell.list.showRows({});
    showError(session.shell, text + failure.detail);
    return OpenResult::Failed;
}

// A safe the user may not read is told so with the system's reason before
// its password is asked; decrypting it would only say "Invalid File or Password".
bool readableOrTold(Shell& shell, const std::string& path) {
    const std::optional<Failure> unreadable = safeNotReadable(path);
    if (unreadable)
        showError(shell, lifecycle_text::SafeNotRead + unreadable->detail);
    return !unreadable;
}

OpenResult decryptAndList(Session& session, const std::string& sourcePath,
                          const std::string& progressText, const std::string& notOpenMessage) {
    SafeState& state = session.state;
    Shell& shell = session.shell;
    shell.busy.ShowProgress(progressText);
    if (!lockSafeFile(session, sourcePath))
        return OpenResult::Failed;
    const DecryptResult decrypted =
        state.safeLock.held() ? decryptIntoWorkingCopy(session) : DecryptResult{};
    if (decrypted.end == Decrypted::ReadFailed)
        return failedOpen(session, lifecycle_text::SafeNotRead, decrypted.failure);
    if (decrypted.end == Decrypted::WriteFailed)
        return failedOpen(session, lifecycle_text::WorkingCopyNotWritten, decrypted.failure);
    if (decrypted.end == Decrypted::Damaged)
        return failedOpen(session, lifecycle_text::SealedSafeDamaged, decrypted.failure);
    if (decrypted.end == Decrypted::Refused) {
        state.safeLock.release();
        shell.busy.HideProgress();
        showError(shell, lifecycle_text::InvalidFileOrPassword);
        return OpenResult::Refused;
    }
    if (!isSafeOpen(state)) {
        shell.busy.HideProgress();
        showError(shell, lifecycle_text::FailedToOpenFile, lifecycle_text::UnknownError);
    }
    shell.busy.HideProgress();
    if (isSafeOpen(state)) {
        // A working copy that cannot be read is no safe to work on: nothing
        // is known of what it holds.
        if (const auto unread = refreshEntryList(state, shell))
            return failedOpen(session, lifecycle_text::WorkingCopyNotRead, *unread);
        shell.list.SetSafeButtonsEnabled(true);
    } else {
        // No plaintext stays behind for a safe that is not open.
        discardWorkingCopy(state);
        shell.talk.showMessage(notOpenMessage, lifecycle_text::Error, MessageIcon::Error);
    }
    return OpenResult::Done;
}

} // namespace

OpenResult openWorkingCopy(Session& session, const std::string& sourcePath,
                           const std::string& progressText, const std::string& notOpenMessage) {
    const OpenResult result = decryptAndList(session, sourcePath, progressText, notOpenMessage);
    // Whatever was open before has ended on the way here, so an open that did
    // not go through leaves no safe open, and the toolbar says so: Save, Add
    // File, Delete and Extract are greyed as they are at start.
    if (!isSafeOpen(session.state))
        session.shell.list.SetSafeButtonsEnabled(false);
    return result;
}

namespace {

// An open goes on after Cancel, with the cancel marker tried as the password:
// that refuses any safe but one made with the marker as its password, as it
// always has. The one place where a cancelled dialog becomes a text.
std::string typedOrCancelMarker(Shell& shell) {
    return shell.talk.askPassword().value_or(PasswordCancelMarker);
}

} // namespace

void openSafe(Session& session) {
    SafeState& state = session.state;
    Shell& shell = session.shell;
    // The picker starts on the last safe's path; the open safe is saved to its
    // own path below, so the choice is kept aside until then.
    std::string chosen = state.safePath;
    if (!shell.pickers.pickSafeToOpen(chosen) || !readableOrTold(shell, chosen))
        return;
    if (!saveBeforeSwitching(session, AfterWrite::EndSession))
        return;
    discardWorkingCopy(state); // what a read-only session leaves
    shell.list.showRows({});
    state.safePath = chosen;
    state.password = typedOrCancelMarker(shell);
    openWorkingCopy(session, state.safePath, lifecycle_text::OpeningSafe,
                    lifecycle_text::CouldNotOpenFile);
}

int openStartupSafe(Session& session, const std::string& startupSafePath) {
    SafeState& state = session.state;
    Shell& shell = session.shell;
    shell.list.showRows({});
    if (!readableOrTold(shell, startupSafePath))
        return 0;
    state.password = typedOrCancelMarker(shell);
    state.safePath = startupSafePath;
    OpenResult result = openWorkingCopy(session, startupSafePath, lifecycle_text::OpeningFile,
                                        lifecycle_text::CouldNotOpenFile);
    return result == OpenResult::Refused ? -1 : 0;
}

} // namespace quorvane
