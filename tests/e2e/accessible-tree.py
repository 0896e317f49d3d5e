#!/usr/bin/python3
"""Prints the accessibility tree of one running application, as a screen
reader sees it over AT-SPI: one line per object,
"DEPTH<TAB>ROLE<TAB>NAME<TAB>TEXT<TAB>SHOWN<TAB>X,Y,WIDTH,HEIGHT", TEXT being
what a reader would speak of an editable field (empty for other objects),
SHOWN "showing" for an object on screen and "hidden" for one that is not (a
closed menu, say), and the last field its place on the screen in pixels.

    accessible-tree.py APPLICATION-NAME [TIMEOUT-SECONDS]

Waits until the application has registered on the accessibility bus with at
least one window; exits 1 when it never does. Needs a session bus (e.g.
dbus-run-session) and only python3-dbus, no toolkit bindings.
"""

import sys
import time

import dbus

ACCESSIBLE = "org.a11y.atspi.Accessible"
ROOT = "/org/a11y/atspi/accessible/root"
STATE_SHOWING = 25  # AtspiStateType
# Qt's tables can hold many cells: never walk more than a screenful of them.
MAX_OBJECTS = 5000


def accessibility_bus():
    session = dbus.SessionBus()
    launcher = session.get_object("org.a11y.Bus", "/org/a11y/bus")
    address = launcher.GetAddress(dbus_interface="org.a11y.Bus")
    return dbus.bus.BusConnection(str(address))


def name_of(bus, sender, path):
    node = bus.get_object(sender, path, introspect=False)
    return str(node.Get(ACCESSIBLE, "Name", dbus_interface=dbus.PROPERTIES_IFACE))


def children_of(bus, sender, path):
    node = bus.get_object(sender, path, introspect=False)
    return [(str(s), str(p)) for s, p in node.GetChildren(dbus_interface=ACCESSIBLE)]


def text_of(bus, sender, path, role):
    if "text" not in role:
        return ""
    node = bus.get_object(sender, path, introspect=False)
    try:
        return str(node.GetText(0, -1, dbus_interface="org.a11y.atspi.Text"))
    except dbus.DBusException:
        return ""


def shown_of(bus, sender, path):
    node = bus.get_object(sender, path, introspect=False)
    states = node.GetState(dbus_interface=ACCESSIBLE)
    word, bit = divmod(STATE_SHOWING, 32)
    return "showing" if int(states[word]) & (1 << bit) else "hidden"


def extents_of(bus, sender, path):
    node = bus.get_object(sender, path, introspect=False)
    try:
        x, y, width, height = node.GetExtents(
            dbus.UInt32(0), dbus_interface="org.a11y.atspi.Component"
        )
    except dbus.DBusException:
        return ""
    return f"{int(x)},{int(y)},{int(width)},{int(height)}"


def role_of(bus, sender, path):
    node = bus.get_object(sender, path, introspect=False)
    return str(node.GetRoleName(dbus_interface=ACCESSIBLE))


def find_application(bus, wanted):
    for sender, path in children_of(bus, "org.a11y.atspi.Registry", ROOT):
        try:
            if name_of(bus, sender, path) == wanted:
                return sender, path
        except dbus.DBusException:
            continue  # an application that went away meanwhile
    return None


def walk(bus, sender, path, depth, lines):
    if len(lines) >= MAX_OBJECTS:
        return
    role = role_of(bus, sender, path)
    lines.append(
        (
            depth,
            role,
            name_of(bus, sender, path),
            text_of(bus, sender, path, role),
            shown_of(bus, sender, path),
            extents_of(bus, sender, path),
        )
    )
    for child_sender, child_path in children_of(bus, sender, path):
        if child_path == "/org/a11y/atspi/null":
            continue
        walk(bus, child_sender, child_path, depth + 1, lines)


def main():
    if len(sys.argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    wanted = sys.argv[1]
    deadline = time.monotonic() + (float(sys.argv[2]) if len(sys.argv) > 2 else 15.0)
    bus = accessibility_bus()
    while True:
        try:
            found = find_application(bus, wanted)
            if found:
                lines = []
                walk(bus, found[0], found[1], 0, lines)
                if any(line[0] == 1 for line in lines):
                    for line in lines:
                        print("\t".join(str(field) for field in line))
                    return 0
        except dbus.DBusException as error:
            last_error = error
        else:
            last_error = None
        if time.monotonic() > deadline:
            why = f" ({last_error})" if last_error else ""
            print(f"accessible-tree: no application '{wanted}' with a window{why}", file=sys.stderr)
            return 1
        time.sleep(0.2)


if __name__ == "__main__":
    sys.exit(main())
