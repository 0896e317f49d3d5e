#pragma once

#include <filesystem>
#include <system_error>

namespace quorvane {

// Creates (or empties) the file at path with mode 0600, so that plaintext
// written into it afterwards is never readable by anyone else. Returns false
// when it cannot be created; a symbolic link at path is refused.
bool createPrivateFile(const std::filesystem::path& path);

// One private directory per process (mode 0700) under the system's temporary
// directory, where the plaintext working copy and every intermediate live.
// Removed with everything in it when the object goes away.
//
// The folder is held by a descriptor from its creation on, and its files are
// reached through that descriptor (anchored()), never by its name: where the
// temporary directory lets others rename what is in it, a folder swapped in
// under our name must not receive our plaintext nor hand us its own files.
// Thrown when the temporary directory lets others rename what is in it and no
// private place can be found instead; what() says so in full.
class UnsafeTemporaryDirectory : public std::system_error {
  public:
    using std::system_error::system_error;
};

class WorkingDirectory {
  public:
    WorkingDirectory(); // throws std::system_error when it cannot be made safely
    ~WorkingDirectory();
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;

    // Where the folder was made (for messages and for removal by name).
    const std::filesystem::path& path() const { return path_; }
    // A path that reaches this very folder through its descriptor, wherever
    // it has been moved: every file in it is opened below this path.
    std::filesystem::path anchored() const;

  private:
    std::filesystem::path path_;
    int fd_ = -1;
};

} // namespace quorvane
