#include "cli/UnattendedClose.h"

#include "cli/CliTexts.h"
#include "watch/FolderHolders.h"

#include <algorithm>

namespace quorvane {

namespace {

void report(std::ostream& errors, const std::string& text) {
    errors << clitext::MessagePrefix << text << '\n' << std::flush;
}

} // namespace

UnattendedClose::UnattendedClose(MountedFolder& folder, CloseWatch& watch,
                                 std::chrono::milliseconds grace, std::filesystem::path dir,
                                 std::ostream& errors)
    : folder_(folder), watch_(watch), grace_(grace), dir_(std::move(dir)), errors_(errors) {}

MountedFolder::SideWatch UnattendedClose::sideWatch() {
    return {watch_.fd(), [this] { return timeout(); }, [this] { wake(); }};
}

int UnattendedClose::timeout() const {
    if (forceAt_) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(*forceAt_ - Clock::now()).count();
        return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
    }
    return closed_ ? -1 : watch_.timeoutMilliseconds();
}

void UnattendedClose::wake() {
    const std::optional<CloseReason> reason = watch_.check();
    if (!closed_) {
        if (reason)
            begin(*reason);
        return;
    }
    // Closing: the files still open had their time.
    if (forceAt_ && Clock::now() >= *forceAt_ && folder_.openFiles() != 0) {
        report(errors_, clitext::closedWhileOpen(describeHeldFiles(filesHeldUnder(dir_))));
        folder_.stop(true);
        forceAt_.reset();
    }
}

void UnattendedClose::begin(CloseReason reason) {
    if (const std::optional<Failure> failed = folder_.saveBeforeClosing()) {
        report(errors_, clitext::closingNotWritten(failed->detail));
        watch_.noteUse(); // idleness asks again only after another idle time
        return;
    }
    closed_ = reason;
    // Also when nothing is open now: a file may be opened before the loop ends.
    forceAt_ = Clock::now() + grace_;
    if (folder_.openFiles() != 0)
        report(errors_,
               clitext::closingWaits(std::chrono::ceil<std::chrono::seconds>(grace_).count()));
    folder_.stop(false);
}

} // namespace quorvane
