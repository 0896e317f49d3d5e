#include "cli/MountEnding.h"

#include "cli/CliTexts.h"
#include "lifecycle/Lifecycle.h"
#include "lifecycle/LifecycleTexts.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <thread>

namespace quorvane {

namespace {

void report(std::ostream& errors, const std::string& text) {
    errors << clitext::MessagePrefix << text << '\n' << std::flush;
}

std::string joined(const std::vector<std::pair<std::string, int>>& failures) {
    std::string names;
    for (const auto& [name, error] : failures)
        names += (names.empty() ? "" : ", ") + name;
    return names;
}

// One try: the files first, then the safe file. True when nothing is left.
bool tryToFinish(const MountEnding& ending, std::string& lost) {
    const auto failures = ending.folder.storeRemaining();
    SafeState& state = ending.session.state;
    bool saved = !ending.folder.unsaved();
    if (!saved && !state.readOnly) {
        const WriteResult written = writeSafeFile(ending.session, lifecycle_text::Saving);
        saved = written.written();
        if (saved)
            ending.folder.markSaved();
        else
            report(ending.errors, clitext::finalSaveFailed(written.failure->detail));
    }
    for (const auto& [name, error] : failures)
        report(ending.errors, clitext::finalStoreFailed(name, std::strerror(error)));
    lost = clitext::unsavedWork(!saved, joined(failures));
    return saved && failures.empty();
}

} // namespace

ExitCode finishMount(const MountEnding& ending) {
    std::atomic<int> asked{0};
    if (ending.guard != nullptr)
        ending.guard->divert([&asked](int signal) {
            if (signal != SIGINT && signal != SIGTERM && signal != SIGHUP)
                return false;
            ++asked;
            return true;
        });
    ExitCode result = ExitCode::Success;
    bool warned = false;
    for (std::string lost; !tryToFinish(ending, lost);) {
        // A session that may no longer write (the safe was rewritten by
        // another program) cannot succeed by trying again.
        if (ending.session.state.readOnly) {
            report(ending.errors, clitext::givenUp(lost));
            result = ExitCode::Failed;
            break;
        }
        report(ending.errors,
               clitext::keptUntilWritten(static_cast<int>(ending.retryEvery.count()), lost));
        // The first Ctrl-C says what giving up loses; the second gives up.
        const auto until = std::chrono::steady_clock::now() + ending.retryEvery;
        while (std::chrono::steady_clock::now() < until && asked.load() < 2) {
            if (asked.load() == 1 && !warned) {
                report(ending.errors, clitext::askAgainToGiveUp(lost));
                warned = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (asked.load() >= 2) {
            report(ending.errors, clitext::givenUp(lost));
            result = ExitCode::Failed;
            break;
        }
    }
    if (ending.guard != nullptr)
        ending.guard->divert({});
    return result;
}

} // namespace quorvane
