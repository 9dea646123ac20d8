#!/usr/bin/python3
"""Opens a file in a new editor window through D-Bus and waits until the
user has closed the window.

    examples/automation.py FILE

Needs Debian's python3-dbus and python3-gi, and a session bus that can start
the editor: the installed package's service file, or the one the build puts
under build/share/dbus-1/services (see the README).

Every call goes over one bus connection, kept open until the end: the editor
ties each window object to the connection that created it and releases the
object as soon as that connection closes. A client that made each call on a
new connection (as one dbus-send per call does) would lose its window right
after creating it.
"""

import os
import sys

import dbus
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

SERVICE = "org.ostrel.OstrelEdit"
EDITOR_PATH = "/org/ostrel/OstrelEdit"
WINDOW = "org.ostrel.OstrelEdit.Window"
PROPERTIES = "org.freedesktop.DBus.Properties"


def main():
    if len(sys.argv) != 2:
        print("usage: examples/automation.py FILE", file=sys.stderr)
        return 2
    document = os.path.abspath(sys.argv[1])

    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()  # the one connection of this client
    editor = bus.get_object(SERVICE, EDITOR_PATH)  # starts the editor if needed
    window_path = editor.CreateWindow(dbus_interface=SERVICE)
    window = dbus.Interface(bus.get_object(SERVICE, window_path), WINDOW)
    properties = dbus.Interface(bus.get_object(SERVICE, window_path), PROPERTIES)

    loop = GLib.MainLoop()
    # OnClose: the window object has ended, here because this client
    # released it once the user had closed the window.
    bus.add_signal_receiver(loop.quit, signal_name="OnClose", dbus_interface=WINDOW,
                            bus_name=SERVICE, path=window_path)

    try:
        window.OpenFile(document)
    except dbus.DBusException as error:
        print(f"{document}: {error.get_dbus_message()}", file=sys.stderr)
        window.Release()
        return 1
    properties.Set(WINDOW, "Visible", True)
    print(f"{document} is open in window {properties.Get(WINDOW, 'hWnd')}; close the window to end.")

    def window_still_open():
        try:
            properties.Get(WINDOW, "Visible")
            return True  # ask again in a second
        except dbus.DBusException as error:
            if not error.get_dbus_name().endswith(".WindowClosed"):
                raise
            window.Release()
            return False

    GLib.timeout_add_seconds(1, window_still_open)
    try:
        loop.run()
    except KeyboardInterrupt:
        # Released, a shown window stays open for the user.
        window.Release()
        return 130
    print("The window object has ended (OnClose).")
    return 0


if __name__ == "__main__":
    sys.exit(main())
