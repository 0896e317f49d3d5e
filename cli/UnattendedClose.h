#pragma once

#include "mount/MountedFolder.h"
#include "watch/CloseWatch.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <ostream>

namespace quorvane {

// Closes the tool's folder when the watch says so (screen lock, sleep,
// log-out, idleness), from inside the folder's own loop: the safe is written
// first (a failed write keeps the folder open and is tried again at the next
// event), then the folder closes once its files are closed, or after the
// grace time with the files and their programs named.
class UnattendedClose {
  public:
    UnattendedClose(MountedFolder& folder, CloseWatch& watch, std::chrono::milliseconds grace,
                    std::filesystem::path dir, std::ostream& errors);

    // What the folder's loop waits on.
    MountedFolder::SideWatch sideWatch();
    // Why the folder closed by itself, if it did.
    std::optional<CloseReason> reason() const { return closed_; }

  private:
    using Clock = std::chrono::steady_clock;
    void wake();
    void begin(CloseReason reason);
    int timeout() const;

    MountedFolder& folder_;
    CloseWatch& watch_;
    std::chrono::milliseconds grace_;
    std::filesystem::path dir_;
    std::ostream& errors_;
    std::optional<CloseReason> closed_;
    std::optional<Clock::time_point> forceAt_;
};

} // namespace quorvane
