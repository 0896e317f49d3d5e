#pragma once

#include "storage/files/SafeFileLock.h"
#include "storage/format/ContainerIndex.h"
#include "storage/format/PlainContents.h"
#include "storage/format/SealedSafe.h"
#include "storage/format/sealed/VaultContents.h"
#include "storage/workingcopy/WorkingCopy.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace quorvane {

// At most this many bytes of a typed password are taken: the key depends on them.
inline constexpr std::size_t PasswordLimit = 249;
// Left in the password by a cancelled password dialog.
inline constexpr const char* PasswordCancelMarker = "!!!!K";

// The state of the one open safe. A safe is open exactly while there are
// contents: for a plain safe (and a first-version sealed one) the container
// in a working copy (read through from the safe file, and what was changed
// kept encrypted under a key of this session; see WorkingCopy), for a vault
// the safe file itself (see VaultContents).
struct SafeState : ContainerIndex {
    std::string safePath;
    std::string password;
    std::unique_ptr<WorkingCopy> workingCopy; // none for a vault
    std::unique_ptr<VaultContents> vault;     // none for a plain safe
    // The container's view of the working copy, bound anew by contentsOf
    // (the working copy is replaced as a whole by opens, saves and tests).
    std::optional<PlainContents> plainView;
    // The last load left out rows that point outside the working copy.
    bool indexDamaged = false;
    // Nothing of this session may reach the safe file: its container did not
    // load completely (a wrong password whose padding happened to fit lands
    // here too), or a change failed half-way. Listing and extracting go on;
    // every change and every save is refused, so the safe file keeps its last
    // good state. Only a new session clears it.
    bool readOnly = false;
    // Held from the open to the end of the session: one program at a time.
    SafeFileLock safeLock;
    // The process's private working directory (see WorkingDirectory).
    std::filesystem::path workDir;
    // A sealed safe's key, derived at the open (or when the safe was sealed or
    // given a new password) and kept for its saves; null for a plain safe.
    std::unique_ptr<SealedKey> sealedKey;
};

inline bool isSafeOpen(const SafeState& state) {
    return state.workingCopy != nullptr || state.vault != nullptr;
}

// What every command reads and changes of the open safe: the vault, or the
// container in the working copy. Only while a safe is open.
SafeContents& contentsOf(SafeState& state);

// Working files, all inside the private working directory.
std::filesystem::path workingCopyPath(const SafeState& state); // "temp2"

// Ends the open safe without writing it: drops the working copy, removes
// the working copy (a vault's uncommitted chunks are cut off the safe file)
// and lets go of the safe file's lock. Only for a safe whose changes were saved,
// or that the user chose to give up.
void discardWorkingCopy(SafeState& state);

} // namespace quorvane
