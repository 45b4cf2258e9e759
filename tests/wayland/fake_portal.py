#!/usr/bin/python3
# A desktop portal of the tests' own on the session bus of its environment:
# it takes the portal's name and answers every screenshot request as told.
#   fake_portal.py FOLDER MODE [URI]
# MODE: "silent" never answers, "error" answers with an error, "uri" answers
# with URI as the picture. It creates FOLDER/ready once it has the name, and
# FOLDER/asked once it has dealt with a request.
import sys

from gi.repository import Gio, GLib

INTERFACE = """
<node>
  <interface name="org.freedesktop.portal.Screenshot">
    <method name="Screenshot">
      <arg type="s" name="parent_window" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="o" name="handle" direction="out"/>
    </method>
    <property name="version" type="u" access="read"/>
  </interface>
</node>
"""
folder, mode = sys.argv[1], sys.argv[2]
uri = sys.argv[3] if len(sys.argv) > 3 else ""
unanswered = []


def touch(name):
    open(folder + "/" + name, "w").close()


def screenshot(connection, sender, path, interface, method, parameters, invocation):
    if mode == "silent":
        unanswered.append(invocation)
    elif mode == "error":
        invocation.return_dbus_error("org.freedesktop.portal.Error.Failed", "the screen is locked")
    else:
        token = parameters[1]["handle_token"]
        handle = "/org/freedesktop/portal/desktop/request/%s/%s" % (sender[1:].replace(".", "_"), token)
        invocation.return_value(GLib.Variant("(o)", (handle,)))
        connection.emit_signal(sender, handle, "org.freedesktop.portal.Request", "Response",
                               GLib.Variant("(ua{sv})", (0, {"uri": GLib.Variant("s", uri)})))
        connection.flush_sync(None)
    touch("asked")


def version(connection, sender, path, interface, name):
    return GLib.Variant("u", 1)


def bus_acquired(connection, name):
    info = Gio.DBusNodeInfo.new_for_xml(INTERFACE).interfaces[0]
    connection.register_object("/org/freedesktop/portal/desktop", info, screenshot, version, None)


loop = GLib.MainLoop()
Gio.bus_own_name(Gio.BusType.SESSION, "org.freedesktop.portal.Desktop", Gio.BusNameOwnerFlags.NONE,
                 bus_acquired, lambda connection, name: touch("ready"), lambda connection, name: loop.quit())
loop.run()
