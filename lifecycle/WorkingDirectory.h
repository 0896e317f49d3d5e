#pragma once

#include <filesystem>

namespace quorvane {

// One private directory per process (mode 0700) under the system's temporary
// directory, where the plaintext working copy and every intermediate live.
// Removed with everything in it when the object goes away.
// Creates (or empties) the file at path with mode 0600, so that plaintext
// written into it afterwards is never readable by anyone else. Returns false
// when it cannot be created; a symbolic link at path is refused.
bool createPrivateFile(const std::filesystem::path& path);

class WorkingDirectory {
  public:
    WorkingDirectory(); // throws std::system_error when it cannot be made
    ~WorkingDirectory();
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

} // namespace quorvane
