#pragma once

// The one routine that puts a freshly encrypted safe in place, shared by New
// Safe and every save.

#include "lifecycle/SafeState.h"
#include "lifecycle/Session.h"
#include "lifecycle/WriteResult.h"
#include "storage/files/AtomicReplace.h"
#include "ui/Shell.h"

#include <filesystem>
#include <functional>
#include <istream>
#include <string>

namespace quorvane {

// Encrypts all of plaintext (from its start) under key onto target by atomic
// replacement, as one busy step of shell. The fresh file is read back from the
// disk and must decrypt to the plaintext before it replaces anything. With lock, the
// file at target must still be the one lock holds (unchanged since it was
// opened or last saved), and the lock moves to the new file. On any failure
// target is untouched and the result says why. whenReplaced runs in the same
// busy step once the new file is in place (and holds the lock).
WriteResult encryptFileOnto(Shell& shell, std::istream& plaintext,
                            const std::filesystem::path& target, const std::string& key,
                            SafeFileLock* lock, const std::function<void()>& whenReplaced = {});

// What the user is told when a new safe file could not keep the old one's
// access; empty when it kept everything.
std::string accessNoticeFor(const AccessKept& kept);

// The vault's side of writeSafeFile: commits what changed (nothing is written
// when nothing did), and compacts the file when more than a quarter of it is
// waste. The lock's expected identity follows our own writes.
WriteResult commitVault(Session& session, VaultContents& vault, const std::string& progressText);

// Writes the committed state of the open vault into a fresh file without
// waste that replaces the safe (atomically, read back first; the lock moves
// to it). On failure the safe file is as it was; a write that went through
// may carry a warning.
WriteResult compactVault(Session& session, VaultContents& vault, const std::string& progressText);

// Writes the open plain or first-version sealed safe as a vault under the
// session's password (atomic replacement, read back first); the session goes
// on in the vault. Shows progressText in the busy box; no message.
WriteResult writeAsVault(Session& session, const std::string& progressText);

} // namespace quorvane
