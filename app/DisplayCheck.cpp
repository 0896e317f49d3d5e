#include "app/DisplayCheck.h"

#include <cstdlib>

namespace quorvane {

namespace {

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

} // namespace

bool displayAvailable() {
    // A chosen platform plugin (offscreen, vnc, ...) needs no display server.
    return isSet("QT_QPA_PLATFORM") || isSet("DISPLAY") || isSet("WAYLAND_DISPLAY");
}

} // namespace quorvane
