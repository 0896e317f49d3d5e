// The vault (sealed safes, second version) measured on its own, each step in
// a child process of its own so that its peak memory is its own, with the
// goal beside each figure:
//
//   quorvane-vault-bench [FOLDER [ENTRIES [ENTRY_KIB [CHUNK_KIB...]]]]
//
// Defaults: a fresh folder under /var/tmp, 4,000 entries of 256 KiB (1 GiB),
// chunk sizes 16, 64 and 256 KiB. Argon2id runs at the defaults of new safes
// (3 passes over 64 MiB); "argon2id" is one derivation alone, the floor of
// every step that opens the safe.

#include "storage/files/UniqueFd.h"
#include "storage/format/sealed/Vault.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace quorvane;
using namespace quorvane::vault;
namespace fs = std::filesystem;

namespace {

const std::string Password = "bench password";

struct Figure {
    double seconds = 0;
    double peakMiB = 0;
};

// Runs step in a child; its seconds come through a pipe, its peak RSS from wait4.
template <typename Step> Figure inChild(Step step) {
    int fds[2];
    if (::pipe(fds) != 0)
        std::exit(2);
    UniqueFd readEnd(fds[0]);
    UniqueFd writeEnd(fds[1]);
    const pid_t child = ::fork();
    if (child == 0) {
        readEnd.reset();
        const auto start = std::chrono::steady_clock::now();
        const bool ok = step();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const ssize_t written = ::write(writeEnd.get(), &seconds, sizeof seconds);
        ::_exit(ok && written == sizeof seconds ? 0 : 1);
    }
    // Our copy of the write end goes first: a child that dies before writing
    // then ends the read with nothing instead of leaving it waiting.
    writeEnd.reset();
    Figure figure;
    const ssize_t got = ::read(readEnd.get(), &figure.seconds, sizeof figure.seconds);
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    if (got != sizeof figure.seconds || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "vault bench: a step failed\n");
        std::exit(1);
    }
    figure.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    return figure;
}

std::unique_ptr<Vault> openAt(const fs::path& safe, bool writable) {
    int error = 0;
    OpenResult outcome = OpenResult::Opened;
    return Vault::open(PlainFile::open(safe, writable ? O_RDWR : O_RDONLY, error), Password,
                       writable, outcome);
}

// Bytes that differ between two files, counted in 4 KiB pages.
std::uint64_t changedBytes(const fs::path& one, const fs::path& other) {
    std::ifstream a(one, std::ios::binary), b(other, std::ios::binary);
    std::vector<char> x(4096), y(4096);
    std::uint64_t changed = 0;
    while (a || b) {
        a.read(x.data(), 4096);
        b.read(y.data(), 4096);
        if (a.gcount() != b.gcount() || !std::equal(x.begin(), x.begin() + a.gcount(), y.begin()))
            changed += static_cast<std::uint64_t>(std::max(a.gcount(), b.gcount()));
        if (a.gcount() == 0 && b.gcount() == 0)
            break;
    }
    return changed;
}

void row(const char* what, const Figure& figure, const std::string& goal) {
    std::printf("  %-28s %9.3f s %8.1f MiB   goal: %s\n", what, figure.seconds, figure.peakMiB,
                goal.c_str());
}

void measure(const fs::path& folder, int entries, std::uint64_t entryKiB, std::uint32_t chunk,
             const Figure& argon) {
    const fs::path safe = folder / "vault.cx", before = folder / "before.cx";
    const fs::path source = folder / "source", extra = folder / "extra";
    fs::remove(safe);
    std::string bytes(entryKiB * 1024, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 2654435761u >> 13);
    std::ofstream(source, std::ios::binary) << bytes;
    std::ofstream(extra, std::ios::binary) << std::string(1 << 20, 'e');
    const std::string floor = "argon2id + 50 ms = " + std::to_string(argon.seconds + 0.05) + " s";
    std::printf("chunk %u KiB, %d entries of %llu KiB:\n", chunk / 1024, entries,
                static_cast<unsigned long long>(entryKiB));
    const Figure make = inChild([&] {
        std::ofstream out(safe, std::ios::binary);
        if (Vault::writeNew(out, Password, VaultSettings{3, 65536, chunk}) || !out.flush())
            return false;
        out.close();
        auto vault = openAt(safe, true);
        int error = 0;
        auto file = PlainFile::open(source, O_RDONLY, error);
        for (int i = 0; i < entries; ++i)
            if (vault->add("entry-" + std::to_string(i), *file, bytes.size(), {}) !=
                StepResult::Done)
                return false;
        return vault->commit() == StepResult::Done;
    });
    row("make (add all + commit)", make, "peers' make (bench/run)");
    const Figure list = inChild([&] {
        auto vault = openAt(safe, false);
        std::size_t listed = 0;
        for (const auto& [path, entry] : vault->entries())
            listed += path.size() + entry.size;
        return vault && listed > 0;
    });
    row("list", list, floor);
    const Figure extractOne = inChild([&] {
        auto vault = openAt(safe, false);
        std::string out(bytes.size(), '\0');
        std::size_t got = 0;
        return vault->read("entry-" + std::to_string(entries / 2), 0, out.data(), out.size(),
                           got) == StepResult::Done &&
               out == bytes;
    });
    row("extract one", extractOne, floor);
    fs::copy_file(safe, before, fs::copy_options::overwrite_existing);
    const Figure add = inChild([&] {
        auto vault = openAt(safe, true);
        int error = 0;
        auto file = PlainFile::open(extra, O_RDONLY, error);
        return vault->add("added", *file, 1 << 20, {}) == StepResult::Done &&
               vault->commit() == StepResult::Done;
    });
    row("add 1 MiB (open + commit)", add, "0.1 x the plain safe's add");
    std::printf("  %-28s %9.2f MiB                goal: at most 4 MiB\n", "  file changed by it",
                static_cast<double>(changedBytes(before, safe)) / (1 << 20));
    fs::copy_file(safe, before, fs::copy_options::overwrite_existing);
    const Figure password = inChild([&] {
        auto vault = openAt(safe, true);
        return vault->changePassword("other password") == StepResult::Done;
    });
    row("password change", password,
        "2 x argon2id + 50 ms = " + std::to_string(2 * argon.seconds + 0.05) + " s");
    std::printf("  %-28s %9.2f KiB                goal: at most 64 KiB\n", "  file changed by it",
                static_cast<double>(changedBytes(before, safe)) / 1024);
    std::printf("  %-28s %9.3f GiB for %.3f GiB of files\n", "file size",
                static_cast<double>(fs::file_size(safe)) / (1 << 30),
                static_cast<double>(entries) * static_cast<double>(bytes.size()) / (1 << 30));
    std::printf("  peak memory goal: at most 64 MiB + 16 MiB = 80 MiB\n");
    for (const fs::path& scratch : {safe, before, source, extra})
        fs::remove(scratch);
}

} // namespace

int main(int argc, char** argv) {
    std::string pattern = argc > 1 ? argv[1] : "/var/tmp/quorvane-vault-bench.XXXXXX";
    fs::path folder = pattern;
    if (argc <= 1) {
        if (::mkdtemp(pattern.data()) == nullptr)
            return 2;
        folder = pattern;
    }
    const int entries = argc > 2 ? std::atoi(argv[2]) : 4000;
    const std::uint64_t entryKiB = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 256;
    std::vector<std::uint32_t> chunks;
    for (int i = 4; i < argc; ++i)
        chunks.push_back(static_cast<std::uint32_t>(std::atoi(argv[i])) * 1024);
    if (chunks.empty())
        chunks = {16 * 1024, 64 * 1024, 256 * 1024};
    const Figure argon = inChild([] { return deriveNewSealedKey(Password).key != nullptr; });
    row("argon2id (3 passes, 64 MiB)", argon, "-");
    for (std::uint32_t chunk : chunks)
        measure(folder, entries, entryKiB, chunk, argon);
    if (argc <= 1)
        fs::remove_all(folder);
    return 0;
}
