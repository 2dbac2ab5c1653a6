#!/usr/bin/env python3
"""Answers the desktop portal's remote-desktop dialog as a user would, through the
accessibility bus: "allow" turns on GNOME's "Allow remote interaction", ticks the box that
keeps the consent where the dialog has one (GNOME 44 and later: "Remember this selection";
Plasma 6: "Allow restoring on future sessions") and presses Share, "refuse" presses
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


def walk(address, bus, path, found):
    """Every named control below `path`, outermost first, as (role, plain name, bus,
    path): GTK 4 names a switch row and the switch in it alike, and only the switch has
    an action."""
    try:
        name = plain(call(address, "get-property", bus, path, "org.a11y.atspi.Accessible", "Name"))
        if name:
            role = call(address, "call", bus, path, "org.a11y.atspi.Accessible", "GetRoleName")[0]
            found.append((role, name, bus, path))
        children = call(address, "call", bus, path, "org.a11y.atspi.Accessible", "GetChildren")[0]
    except (RuntimeError, subprocess.TimeoutExpired):
        return found
    for b, p in children:
        walk(address, b, p, found)
    return found


def snapshot(address):
    return walk(address, "org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root", [])


# GTK's and Qt's names of the roles, and the boxes that keep the consent.
BUTTON = ("button", "push button")
SWITCH = ("switch",)
CHECKBOX = ("checkbox", "check box")
KEEP = ("Remember this selection", "Allow restoring on future sessions")


def controls(tree, roles, names):
    wanted = {plain(n) for n in names}
    return [(bus, path) for role, name, bus, path in tree if role in roles and name in wanted]


def act(address, control):
    try:
        call(address, "call", control[0], control[1], "org.a11y.atspi.Action", "DoAction", "i", "0")
        return True
    except (RuntimeError, subprocess.TimeoutExpired):
        return False


def press(address, tree, roles, names):
    return any(act(address, c) for c in controls(tree, roles, names))


def state(address, control, bit):
    states = call(address, "call", control[0], control[1], "org.a11y.atspi.Accessible", "GetState")[0]
    return bool(states[bit // 32] & (1 << bit % 32))


def checked(address, control):
    return state(address, control, 4)  # ATSPI_STATE_CHECKED


def sensitive(address, control):
    return state(address, control, 24)  # ATSPI_STATE_SENSITIVE


def remember(address, tree):
    """Ticks the box that keeps the consent if the dialog has it; says what it found."""
    found = controls(tree, CHECKBOX, KEEP)
    if not found:
        return "absent"
    if checked(address, found[0]):
        return "ticked already"
    return "ticked" if act(address, found[0]) else "not tickable"


def main():
    limit = time.time() + float(sys.argv[1] if len(sys.argv) > 1 else 30)
    refuse = len(sys.argv) > 2 and sys.argv[2] == "refuse"
    while time.time() < limit:
        address = a11y_address()
        tree = snapshot(address) if address else []
        if controls(tree, BUTTON, ["Share"]):
            if refuse:
                if press(address, tree, BUTTON, ["Cancel"]):
                    return 0
            else:
                # GNOME's Share becomes pressable once its switch is on; Plasma has none.
                press(address, tree, SWITCH, ["Allow remote interaction"])
                print("keep the consent:", remember(address, tree), flush=True)
                for _ in range(20):
                    share = [c for c in controls(tree, BUTTON, ["Share"]) if sensitive(address, c)]
                    if share and act(address, share[0]):
                        return 0
                    time.sleep(0.2)
        time.sleep(0.5)
    return 1


sys.exit(main())
