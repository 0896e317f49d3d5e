#pragma once

// Files and folders for tests: a private temporary folder removed afterwards,
// whole-file reads and writes, folder listings and reproducible contents.

#include <cstdint>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace quorvane::test {

// A fresh folder under the system's temporary directory, removed with all it
// holds when it goes, even where a fault test left read-only folders in it.
class TempFolder {
  public:
    explicit TempFolder(const std::string& prefix = "quorvane-test");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    // Writes a file of this name and content into the folder; its path.
    std::filesystem::path write(const std::string& name, const std::string& content) const;

  private:
    std::filesystem::path path_;
};

// Removes folder and everything below it, giving back the owner's rights on
// each folder first.
void removeTree(const std::filesystem::path& folder);

std::string readFile(const std::filesystem::path& path);
// Throws when the bytes cannot all be written.
void writeFile(const std::filesystem::path& path, const std::string& bytes);
// Names in folder (not recursive), sorted; empty when it does not exist.
std::vector<std::string> folderListing(const std::filesystem::path& folder);
// Reproducible bytes that differ from position to position, so that a
// shifted or truncated copy never compares equal by accident.
std::string patternBytes(std::size_t length, unsigned seed = 1);

// Runs a program (found on PATH) to its end with its output discarded;
// returns its exit status, -1 when it did not exit normally.
int runProgram(const std::vector<std::string>& argv);

// `openssl enc -aes-256-cbc` (with decrypt, `-d`) from one file to another,
// key and IV given as raw bytes; true when openssl succeeded.
bool opensslCbc(bool decrypt, const std::string& key, const std::string& iv,
                const std::filesystem::path& in, const std::filesystem::path& out);

// Lowers the largest file this process may write, as a full disk would stop
// it: a write past the limit fails with EFBIG (SIGXFSZ is ignored meanwhile).
class FileSizeLimit {
  public:
    explicit FileSizeLimit(std::uint64_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
    rlimit saved_{};
    void (*previousHandler_)(int) = nullptr;
};

} // namespace quorvane::test
