#pragma once

// Writing one extracted entry into the chosen folder without ever leaving it.
// Stored names come from safes made anywhere, so a name is used only when it
// is a plain file name, and the file is opened relative to the folder with
// O_NOFOLLOW: neither "../x", "a/b" nor a link placed in the folder can send
// the bytes elsewhere.

#include <functional>
#include <ostream>
#include <string>

namespace quorvane {

// The chosen folder, opened once for all the entries of one extraction.
class ExtractFolder {
  public:
    explicit ExtractFolder(const std::string& path);
    ~ExtractFolder();
    ExtractFolder(const ExtractFolder&) = delete;
    ExtractFolder& operator=(const ExtractFolder&) = delete;

    int fd() const { return fd_; }
    int openError() const { return openError_; } // errno when the folder could not be opened

  private:
    int fd_ = -1;
    int openError_ = 0;
};

// A name that can only mean a file directly inside the folder.
bool isPlainEntryName(const std::string& name);

enum class TargetOutcome { Written, Skipped, Failed };

struct TargetResult {
    TargetOutcome outcome = TargetOutcome::Failed;
    std::string detail; // why it was skipped or failed
};

// Creates (or empties) the ordinary file name in folder and lets writeContent
// fill it; writeContent returns false when its source could not be read. A
// file that could not be written in full is removed again.
TargetResult writeEntryFile(const ExtractFolder& folder, const std::string& name,
                            const std::function<bool(std::ostream&)>& writeContent);

} // namespace quorvane
