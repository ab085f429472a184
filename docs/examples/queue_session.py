#!/usr/bin/python3
"""A collector's session with the Oskara servers through their typed D-Bus
face, with python3-dbus: log on, update the queue synchronously, then
asynchronously while polling its status, list the active users, log off.

    python3 queue_session.py DT AR SO

The three paths are absolute: the servers do not run in the caller's folder.
The servers are reached on the session bus (DBUS_SESSION_BUS_ADDRESS).
"""
import sys
import time

import dbus
from dbus.mainloop.glib import DBusGMainLoop

APPLICATION = "Varrick.Application"  # bus name, class and typed interface
FACTORY = "oskara.Automation.Factory"
# A scan may take minutes; D-Bus libraries give up after 25 s unless told.
NO_TIME_LIMIT = 24 * 3600


def application(bus):
    """A new Application object, held for as long as this connection lives."""
    factory = bus.get_object(APPLICATION, "/oskara/Factory")
    path = factory.Create(APPLICATION, dbus_interface=FACTORY)
    # Calls go to the bus name, not to the process that answered Create:
    # should that process end, a fresh server answers a call with error
    # [462] instead of the bus failing it.
    proxy = bus.get_object(APPLICATION, path, follow_name_owner_changes=True)
    return dbus.Interface(proxy, APPLICATION)


def show(member, result, lerr, serror):
    print(f"{member}: {str(result)!r} lErr={int(lerr)} sError={str(serror)!r}")
    if result.startswith("-1"):
        sys.exit(1)


def session(dt, ar, so):
    DBusGMainLoop(set_as_default=True)  # lets the proxy follow the bus name
    app = application(dbus.SessionBus())

    show("Logon", *app.Logon(dt, ar, so, 0, ""))

    # Out-arguments: the result, then lErr, sError and prompt after the call.
    result, lerr, serror, _ = app.UpdateQueue(dt, ar, so, 0, "", False, timeout=NO_TIME_LIMIT)
    show("UpdateQueue", result, lerr, serror)

    result, lerr, serror, _ = app.UpdateQueueAsync(dt, ar, so, 0, "", False)
    show("UpdateQueueAsync", result, lerr, serror)
    status, lerr, serror = app.UpdQAsyncStatus(0, "")
    while status == "01":  # still running
        time.sleep(0.5)
        status, lerr, serror = app.UpdQAsyncStatus(0, "")
    show("UpdQAsyncStatus", status, lerr, serror)

    print(f"ActiveUsersList: {str(app.ActiveUsersList())!r}")
    show("LogOff", *app.LogOff(0, ""))


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    try:
        session(*sys.argv[1:])
    except dbus.DBusException as error:
        # oskara.Automation.Error: "[number] text"
        sys.exit(f"{error.get_dbus_name()}: {error.get_dbus_message()}")
