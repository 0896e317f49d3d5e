#include "ui/Shell.h"

namespace quorvane {

namespace {

// Neither holds anything, so one of each serves every such port, on any thread.
NoPickers& nobodysPickers() {
    static NoPickers pickers;
    return pickers;
}

NoEntryList& nobodysList() {
    static NoEntryList list;
    return list;
}

} // namespace

Shell::Shell(Conversation& talker, BusySteps& steps)
    : Shell(talker, nobodysPickers(), steps, nobodysList()) {}

} // namespace quorvane
