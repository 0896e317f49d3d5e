#!/usr/bin/python3
"""Private session and system buses with a mocked logind and screen saver.

Prints "ready SYSTEM_ADDRESS SESSION_ADDRESS" once both are up, then takes one
command a line on standard input and answers each with one line:

  session ID        logind gets session ID (also what GetSessionByPID answers)
  lock              the session's Lock signal
  sleep true|false  PrepareForSleep
  shutdown true     PrepareForShutdown
  removed           SessionRemoved of the session
  screensaver NAME  the screen saver under NAME turns active (ActiveChanged(true))
  inhibitors        the held inhibitors, "what/mode/who" separated by spaces

Everything ends with standard input.
"""

import os
import signal
import subprocess
import sys

import dbus
import dbusmock

LOGIND = 'org.freedesktop.login1'
MANAGER = 'org.freedesktop.login1.Manager'
SESSION = 'org.freedesktop.login1.Session'


class Buses(dbusmock.DBusTestCase):
    pass


def answer(text):
    sys.stdout.write(text + '\n')
    sys.stdout.flush()


def screen_saver(name):
    """A screen saver that owns NAME; the returned call makes it active."""
    path = '/' + name.replace('.', '/')
    if name == 'org.gnome.ScreenSaver':
        process, saver = Buses.spawn_server_template('gnome_screensaver', {},
                                                     stdout=subprocess.DEVNULL)
        return process, lambda: saver.SetActive(True, dbus_interface=name)
    process = Buses.spawn_server(name, path, name, system_bus=False, stdout=subprocess.DEVNULL)
    mock = dbus.Interface(Buses.get_dbus(False).get_object(name, path), dbusmock.MOCK_IFACE)
    return process, lambda: mock.EmitSignal(name, 'ActiveChanged', 'b', [True])


def main():
    # Killed, it still ends the buses and mocks it started.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    children = []
    try:
        Buses.start_system_bus()
        Buses.start_session_bus()
        logind, logind_mock = Buses.spawn_server_template('logind', {}, stdout=subprocess.DEVNULL)
        children.append(logind)
        system = Buses.get_dbus(True)
        savers = {}
        session_path = None
        answer('ready ' + os.environ['DBUS_SYSTEM_BUS_ADDRESS'] + ' ' +
               os.environ['DBUS_SESSION_BUS_ADDRESS'])
        for line in sys.stdin:
            words = line.split()
            if not words:
                continue
            command, arguments = words[0], words[1:]
            if command == 'session':
                session_path = logind_mock.AddSession(arguments[0], 'seat0', dbus.UInt32(1000),
                                                      'someone', True)
                logind_mock.AddMethod(MANAGER, 'GetSessionByPID', 'u', 'o',
                                      'ret = "%s"' % session_path)
            elif command == 'lock':
                system.get_object(LOGIND, session_path).Lock(dbus_interface=SESSION)
            elif command in ('sleep', 'shutdown'):
                member = 'PrepareForSleep' if command == 'sleep' else 'PrepareForShutdown'
                logind_mock.EmitSignal(MANAGER, member, 'b', [arguments[0] == 'true'])
            elif command == 'removed':
                logind_mock.EmitSignal(MANAGER, 'SessionRemoved', 'so',
                                       [session_path.split('/')[-1], dbus.ObjectPath(session_path)])
            elif command == 'screensaver':
                name = arguments[0]
                if name not in savers:
                    process, activate = screen_saver(name)
                    children.append(process)
                    savers[name] = activate
                savers[name]()
            elif command == 'inhibitors':
                held = system.get_object(LOGIND, '/org/freedesktop/login1').ListInhibitors(
                    dbus_interface=MANAGER)
                answer('ok ' + ' '.join('%s/%s/%s' % (i[0], i[3], i[1]) for i in held))
                continue
            answer('ok')
    finally:
        for child in children:
            child.terminate()
            child.wait()
        Buses.tearDownClass()


if __name__ == '__main__':
    main()
