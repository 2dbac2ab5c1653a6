#!/usr/bin/env python3
"""Answers the GNOME portal's remote-desktop dialog as a user would, through the
accessibility bus: "allow" turns on "Allow remote interaction" and presses Share, "refuse"
presses Cancel.  Run as the desktop user with its session bus.
    portal-consent.py <seconds> allow|refuse
Exits 0 once the button was pressed, 1 when no dialog came in time."""
import json
import subprocess
import sys
import time


def a11y_address():
    out = subprocess.run(["gdbus", "call", "--session", "-d", "org.a11y.Bus", "-o", "/org/a11y/bus",
                          "-m", "org.a11y.Bus.GetAddress"], capture_output=True, text=True).stdout
    return out.strip()[2:-3]  # ('unix:path=...',)


def call(address, *args):
    r = subprocess.run(["busctl", "--json=short", "--address=" + address] + list(args),
                       capture_output=True, text=True, timeout=10)
    if r.returncode:
        raise RuntimeError(r.stderr)
    return json.loads(r.stdout)["data"]


def find(address, bus, path, role, name):
    try:
        if (call(address, "get-property", bus, path, "org.a11y.atspi.Accessible", "Name") == name
                and call(address, "call", bus, path, "org.a11y.atspi.Accessible",
                         "GetRoleName")[0] == role):
            return bus, path
        children = call(address, "call", bus, path, "org.a11y.atspi.Accessible", "GetChildren")[0]
    except (RuntimeError, subprocess.TimeoutExpired):
        return None
    for b, p in children:
        found = find(address, b, p, role, name)
        if found:
            return found
    return None


def press(address, role, name):
    found = find(address, "org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root", role, name)
    if not found:
        return False
    call(address, "call", found[0], found[1], "org.a11y.atspi.Action", "DoAction", "i", "0")
    return True


def main():
    limit = time.time() + float(sys.argv[1] if len(sys.argv) > 1 else 30)
    refuse = len(sys.argv) > 2 and sys.argv[2] == "refuse"
    while time.time() < limit:
        address = a11y_address()
        if address and refuse and press(address, "button", "_Cancel Cancel"):
            return 0
        if address and not refuse and press(address, "switch", "Allow remote interaction"):
            # Share becomes pressable once the switch is on.
            for _ in range(20):
                if press(address, "button", "_Share Share"):
                    return 0
                time.sleep(0.2)
        time.sleep(0.5)
    return 1


sys.exit(main())
