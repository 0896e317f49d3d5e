// Runs one operation of the program on real files and prints its seconds, so
// that bench/run can time it beside openssl and cp in the same run and read
// the peak RSS of each process from /usr/bin/time.
//
//   quorvane-bench encrypt PLAIN SAFE PASSWORD
//   quorvane-bench decrypt SAFE PLAIN PASSWORD
//   quorvane-bench container SIZE_MIB PATH          a container holding one entry of that size
//   quorvane-bench open SAFE PASSWORD               decrypt into the working copy, load the index
//   quorvane-bench save SAFE PASSWORD               open, then time the save (encrypt + replace)
//   quorvane-bench save-unchecked SAFE PASSWORD     the same save without reading the new file
//                                                   back: what that check costs
//   quorvane-bench add SAFE PASSWORD FILE           open, time adding FILE to the working copy
//   quorvane-bench extract SAFE PASSWORD DIR        open, time extracting entry 0 into DIR
//   quorvane-bench delete SAFE PASSWORD             open, time deleting entry 0
//   quorvane-bench kdf PASSWORD                     the sealed key's derivation alone (3
//                                                   passes, 64 MiB)
//
// open, save, add, extract and delete work on plain and sealed safes alike;
// for a sealed safe, open includes the key's derivation.

#include "entries/Entries.h"
#include "lifecycle/EntryListing.h"
#include "lifecycle/Lifecycle.h"
#include "storage/files/AtomicReplace.h"
#include "storage/files/WorkingDirectory.h"
#include "storage/format/Container.h"
#include "storage/format/SafeCipher.h"
#include "storage/format/SealedSafe.h"
#include "storage/workingcopy/FileStreams.h"
#include "storage/workingcopy/PlainFile.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace quorvane;
using Clock = std::chrono::steady_clock;

// Answers every question the way a benchmark wants: no erasing, the one
// password, the given folder; reports messages so a failure is visible.
class BenchShell : public Conversation,
                   public FilePickers,
                   public BusySteps,
                   public EntryList,
                   public Shell {
  public:
    BenchShell() : Shell(*this, *this, *this, *this) {}

    std::string password;
    std::string folder;
    std::set<int> selected;
    int focused = -1;
    bool failed = false;

    void showMessage(const std::string& text, const std::string& caption,
                     MessageIcon icon) override {
        std::cerr << "quorvane-bench: " << caption << ": " << text << "\n";
        if (icon == MessageIcon::Error)
            failed = true;
    }
    bool askYesNo(const std::string&, const std::string&) override { return false; }
    std::optional<std::string> askPassword() override { return password; }
    std::optional<std::string> askPasswordConfirmation() override { return password; }
    std::optional<std::string> askNewEntryName() override { return std::nullopt; }
    bool pickSafeToOpen(std::string&) override { return false; }
    bool pickNewSafe(std::string&) override { return false; }
    bool pickFileToAdd(std::string&) override { return false; }
    bool ChooseFolder(std::string& path, const std::string&) override {
        path = folder;
        return true;
    }
    void ShowProgress(const std::string&) override {}
    void HideProgress() override {}
    void runBusy(const std::function<void()>& step) override { step(); }
    void showRows(std::vector<EntryRow>) override {}
    void appendRow(EntryRow) override {}
    int focusedRow() override { return focused; }
    int nextSelectedRow(int after) override {
        auto next = selected.upper_bound(after);
        return next == selected.end() ? -1 : *next;
    }
    int selectedCount() override { return static_cast<int>(selected.size()); }
    void SetSafeButtonsEnabled(bool) override {}
    void destroyMainWindow() override {}
};

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

int fail(const std::string& why) {
    std::cerr << "quorvane-bench: " << why << "\n";
    return 1;
}

int cipher(bool encrypt, const char* in, const char* out, const std::string& password) {
    std::ifstream input(in, std::ios::binary);
    std::ofstream output(out, std::ios::binary | std::ios::trunc);
    auto start = Clock::now();
    const std::optional<Failure> failed =
        encrypt ? encryptSafe(input, output, derivePasswordKey(password))
                : decryptSafe(input, output, derivePasswordKey(password));
    output.close();
    if (failed || !output)
        return fail(failed && !failed->detail.empty() ? failed->detail : "write failed");
    std::printf("%.3f\n", secondsSince(start));
    return 0;
}

// A container of one entry holding sizeMiB MiB of varied bytes.
int makeContainer(long sizeMiB, const char* path) {
    std::string source = std::string(path) + ".content";
    {
        std::ofstream content(source, std::ios::binary | std::ios::trunc);
        std::vector<char> block(1 << 20);
        std::uint32_t x = 2463534242u;
        for (long i = 0; i < sizeMiB; ++i) {
            for (auto& byte : block) {
                x ^= x << 13;
                x ^= x >> 17;
                x ^= x << 5;
                byte = static_cast<char>(x);
            }
            content.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
    }
    int error = 0;
    const auto container = PlainFile::open(path, O_RDWR | O_CREAT | O_TRUNC, error);
    const auto content = PlainFile::open(source, O_RDONLY, error);
    if (!container || !content || !writeEmptyContainer(*container))
        return fail("cannot create container");
    ContainerIndex index;
    readContainerIndex(*container, index);
    auto result = appendEntry(*container, index, *content, "content.bin",
                              static_cast<std::uint64_t>(sizeMiB) << 20);
    std::remove(source.c_str());
    return result == AppendResult::Appended ? 0 : fail("append failed");
}

struct OpenedSafe {
    WorkingDirectory workDir;
    SafeState state;
    BenchShell shell;
    Session session{state, shell};

    bool open(const std::string& safe, const std::string& password) {
        state.workDir = workDir.anchored();
        state.password = password;
        shell.password = password;
        return openWorkingCopy(session, safe, "", "") == OpenResult::Done && isSafeOpen(state);
    }
};

// The save as it was before every new safe file was read back and compared:
// the same encryption and replacement, locked the same way, no check.
bool saveUnchecked(SafeState& state) {
    const std::string key = derivePasswordKey(state.password);
    ReplaceGuard guard;
    guard.lockFresh = true;
    ReplaceResult result = replaceFileAtomically(
        state.safePath,
        [&](std::ostream& out) {
            FileInputStream in(*state.workingCopy);
            return encryptSafe(in, out, key);
        },
        guard);
    if (result.replaced())
        state.safeLock.adopt(std::move(result.lockedFd), result.identity);
    return result.replaced();
}

int timed(const char* what, const std::function<bool()>& step) {
    auto start = Clock::now();
    if (!step())
        return fail(std::string(what) + " failed");
    std::printf("%.3f\n", secondsSince(start));
    return 0;
}

int run(const std::vector<std::string>& args) {
    if (args.size() < 2)
        return fail("usage: see the comment at the top of bench/quorvane_bench.cpp");
    const std::string& op = args[1];
    if ((op == "encrypt" || op == "decrypt") && args.size() == 5)
        return cipher(op == "encrypt", args[2].c_str(), args[3].c_str(), args[4]);
    if (op == "kdf" && args.size() == 3)
        return timed("kdf", [&] { return deriveNewSealedKey(args[2]).key != nullptr; });
    if (op == "container" && args.size() == 4)
        return makeContainer(std::atol(args[2].c_str()), args[3].c_str());
    if (args.size() < 4)
        return fail("missing arguments");

    OpenedSafe safe;
    const std::string& path = args[2];
    const std::string& password = args[3];
    if (op == "open")
        return timed("open", [&] { return safe.open(path, password); });
    if (!safe.open(path, password))
        return fail("cannot open " + path);
    safe.state.safePath = path;
    // Opening left the decrypted working copy as dirty pages; write them out
    // now so that the timed step is not charged for the open's writeback.
    ::sync();
    if (op == "save")
        return timed("save", [&] { return writeSafeFile(safe.session, "").written(); });
    if (op == "save-unchecked")
        return timed("save", [&] { return saveUnchecked(safe.state); });
    if (op == "add" && args.size() == 5)
        return timed("add", [&] {
            addDroppedFiles(safe.session, {args[4]});
            return !safe.shell.failed;
        });
    if (op == "extract" && args.size() == 5) {
        safe.shell.folder = args[4];
        safe.shell.selected = {0};
        return timed("extract", [&] {
            extractFiles(safe.session);
            return !safe.shell.failed;
        });
    }
    if (op == "delete") {
        safe.shell.focused = 0;
        return timed("delete", [&] {
            deleteFile(safe.session);
            return !safe.shell.failed;
        });
    }
    return fail("unknown operation " + op);
}

} // namespace

int main(int argc, char** argv) {
    return run(std::vector<std::string>(argv, argv + argc));
}
