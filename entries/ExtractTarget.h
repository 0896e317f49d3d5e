#pragma once

// Writing one extracted entry into the chosen folder without ever leaving it.
// Stored names come from safes made anywhere, so a name is used only when it
// is a plain file name, and the bytes go into a fresh file created relative to
// the folder (O_EXCL), which is then renamed over the name: neither "../x",
// "a/b", a symbolic link nor a hard link placed in the folder can send the
// bytes elsewhere or change a file outside it.

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

// Lets writeContent fill a fresh file in folder (mode 0666 less the umask) and
// puts it in place under name, replacing an ordinary file of that name (as a
// new file: the old one's mode and links are not carried over). writeContent
// returns false when its source could not be read. On any failure the fresh
// file is removed and an existing file of that name is left as it was.
TargetResult writeEntryFile(const ExtractFolder& folder, const std::string& name,
                            const std::function<bool(std::ostream&)>& writeContent);

} // namespace quorvane
