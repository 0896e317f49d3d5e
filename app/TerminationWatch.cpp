#include "app/TerminationWatch.h"

#include "lifecycle/ProcessEnds.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quorvane {

namespace {

// [0] is written by the handler, [1] read on the GUI thread.
int signalSockets[2] = {-1, -1};

extern "C" void noteSignal(int) {
    const int savedErrno = errno;
    const char byte = 1;
    // Only async-signal-safe calls here; a full socket already carries a note.
    [[maybe_unused]] const ssize_t ignored = ::write(signalSockets[0], &byte, 1);
    errno = savedErrno;
}

void setHandler(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signal, &action, nullptr);
}

} // namespace

TerminationWatch::TerminationWatch(std::function<void()> onTermination, QObject* parent)
    : QObject(parent), onTermination_(std::move(onTermination)) {
    if (signalSockets[0] != -1)
        return; // another watch has the signals
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalSockets) != 0) {
        signalSockets[0] = signalSockets[1] = -1;
        return;
    }
    notifier_ = new QSocketNotifier(signalSockets[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationWatch::drain);
    for (int signal : EndingSignals)
        setHandler(signal, noteSignal);
}

TerminationWatch::~TerminationWatch() {
    if (notifier_ == nullptr)
        return;
    for (int signal : EndingSignals)
        setHandler(signal, SIG_DFL);
    // Plain descriptors, closed by hand: the signal handler reads them from a
    // global array, where no owning object may run code, and only once the
    // handlers are gone may they close.
    ::close(signalSockets[0]);
    ::close(signalSockets[1]);
    signalSockets[0] = signalSockets[1] = -1;
}

void TerminationWatch::drain() {
    char buffer[64];
    while (::read(signalSockets[1], buffer, sizeof buffer) > 0) {
    }
    onTermination_();
}

} // namespace quorvane
