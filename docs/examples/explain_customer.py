#!/usr/bin/python3
"""Why a customer is in the collection queue, or not, asked of the Oskara
application server through its typed D-Bus face, with python3-dbus.

    python3 explain_customer.py DT AR SO CUSTID

SO may be "". The paths are absolute: the servers do not run in the
caller's folder. Prints the customer's queue row, each scan rule's verdict,
and what a scan now would do; exits 1 on a failure.
"""
import json
import sys

import dbus
from dbus.mainloop.glib import DBusGMainLoop

from queue_session import application


def explain(dt, ar, so, cust_id):
    DBusGMainLoop(set_as_default=True)  # lets the proxy follow the bus name
    app = application(dbus.SessionBus())
    # One string in, one JSON text out; a failure is a D-Bus error.
    answer = json.loads(app.ExplainCustomer(dt, ar, so, cust_id))

    row = answer["queueRow"]
    if row:
        print(f"queued: reason {row['TransType']} {row['Remark']!r} since "
              f"{row['EntryDate']} {row['EntryTime']}")
    else:
        print("queued: no")
    for rule in answer["rules"]:
        failed = [c["condition"] for c in rule["conditions"] if not c["holds"]]
        note = f" (taken by {rule['takenBy']})" if rule["takenBy"] else ""
        print(f"{rule['order']:2} {rule['procedure']:<14} {rule['verdict']}{note}")
        if rule["enabled"] and failed:
            print(f"   fails: {failed[0]}")
    outcome = answer["outcome"]
    print(f"a scan now: reason {outcome['TransType']} by {outcome['procedure']}")


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    try:
        explain(*sys.argv[1:])
    except dbus.DBusException as error:
        # oskara.Automation.Error: "[number] text"
        sys.exit(f"{error.get_dbus_name()}: {error.get_dbus_message()}")
