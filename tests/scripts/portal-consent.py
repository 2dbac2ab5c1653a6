#!/usr/bin/env python3
"""Answers the GNOME portal's remote-desktop dialog as a user would, through the
accessibility bus: "allow" turns on "Allow remote interaction", ticks "Remember this
selection" where the dialog has it (GNOME 44 and later) and presses Share, "refuse" presses
Cancel.  Run as the desktop user with its session bus.
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


def plain(name):
    """A control's name as a user reads it: GTK 3 names a button with a mnemonic "_Share
    Share", GTK 4 "Share"; GNOME 43 writes "Allow remote interaction", 48 "Allow Remote
    Interaction"."""
    words = name.split()
    half = len(words) // 2
    if len(words) % 2 == 0 and " ".join(words[:half]).replace("_", "") == " ".join(words[half:]):
        words = words[half:]
    return " ".join(words).replace("_", "").lower()


def find(address, bus, path, role, name, found):
    """Every control of that role and name below `path`, outermost first: GTK 4 names a
    switch row and the switch in it alike, and only the switch has an action."""
    try:
        if (plain(call(address, "get-property", bus, path, "org.a11y.atspi.Accessible", "Name")) == plain(name)
                and call(address, "call", bus, path, "org.a11y.atspi.Accessible",
                         "GetRoleName")[0] == role):
            found.append((bus, path))
        children = call(address, "call", bus, path, "org.a11y.atspi.Accessible", "GetChildren")[0]
    except (RuntimeError, subprocess.TimeoutExpired):
        return found
    for b, p in children:
        find(address, b, p, role, name, found)
    return found


def controls(address, role, name):
    return find(address, "org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root", role, name, [])


def act(address, control):
    try:
        call(address, "call", control[0], control[1], "org.a11y.atspi.Action", "DoAction", "i", "0")
        return True
    except (RuntimeError, subprocess.TimeoutExpired):
        return False


def press(address, role, name):
    return any(act(address, c) for c in controls(address, role, name))


def checked(address, found):
    states = call(address, "call", found[0], found[1], "org.a11y.atspi.Accessible", "GetState")[0]
    return bool(states[0] & (1 << 4))  # ATSPI_STATE_CHECKED


def remember(address):
    """Ticks "Remember this selection" if the dialog has it; says what it found."""
    found = controls(address, "checkbox", "Remember this selection")
    if not found:
        return "absent"
    if checked(address, found[0]):
        return "ticked already"
    return "ticked" if press(address, "checkbox", "Remember this selection") else "not tickable"


def main():
    limit = time.time() + float(sys.argv[1] if len(sys.argv) > 1 else 30)
    refuse = len(sys.argv) > 2 and sys.argv[2] == "refuse"
    while time.time() < limit:
        address = a11y_address()
        if address and refuse and press(address, "button", "Cancel"):
            return 0
        if address and not refuse and press(address, "switch", "Allow remote interaction"):
            print("remember this selection:", remember(address), flush=True)
            # Share becomes pressable once the switch is on.
            for _ in range(20):
                if press(address, "button", "Share"):
                    return 0
                time.sleep(0.2)
        time.sleep(0.5)
    return 1


sys.exit(main())
