// One commit of a vault in a process of its own, for the fault tests to run
// under strace's injected failures and kills: removes old.bin, adds new.bin
// and a folder, and commits. Exits 0 when the commit was made, 1 when an
// operation failed, 2 when the vault did not open. With "then-discard" after
// the safe, a failed commit is followed by a discard and another add, which
// must both be refused once the commit's slot may have landed: exit 3 when
// they were, 4 when they were not.

#include "tests/storage/VaultKit.h"

#include <cstdio>

using namespace quorvane::test::vaultkit;

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: vault_commit_probe SAFE [then-discard]\n");
        return 2;
    }
    quorvane::vault::OpenResult opening = quorvane::vault::OpenResult::Opened;
    auto vault = openVault(argv[1], opening);
    if (!vault)
        return 2;
    const bool done = vault->remove("old.bin") == StepResult::Done &&
                      addContent(*vault, "new.bin", newContent()) == StepResult::Done &&
                      vault->makeFolder("d", {}) == StepResult::Done &&
                      vault->commit() == StepResult::Done;
    if (done || argc == 2)
        return done ? 0 : 1;
    const bool refused = vault->discard() == StepResult::ReadOnly &&
                         addContent(*vault, "more", "more") == StepResult::ReadOnly;
    return refused ? 3 : 4;
}
