#pragma once

// What both programs do about the ways a process can end, so that neither
// leaves plaintext behind nor lets it be read out of its memory.

#include <array>
#include <csignal>

namespace quorvane {

// Every signal that ends a process by default and can be caught, apart from
// SIGPIPE (ignored instead: a failed write is reported where it happens) and
// the faults a broken program raises on itself (SIGSEGV, SIGABRT, ...), after
// which no cleanup can be trusted. The real-time signals are left out as
// well: the tool uses two of them itself.
inline constexpr std::array<int, 14> EndingSignals = {
    SIGHUP,  SIGINT,  SIGQUIT,   SIGTERM, SIGUSR1, SIGUSR2, SIGALRM,
    SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGSTKFLT};

// Called first thing in main: no core dump of this process (it would hold
// passwords, keys and plaintext), and no other process of the same user may
// attach to it or read its memory.
void keepProcessPrivate();

} // namespace quorvane
