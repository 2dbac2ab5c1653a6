#!/bin/bash
# A headless GNOME compositor with the desktop portal, for the portal typing test; run
# inside dbus-run-session as the desktop user.
#   gnome-portal-session.sh <runtime folder> <type_target> <typed file>
# Writes the session bus address to <runtime folder>/bus once the target window is up.
set -u
runtime=$1 target=$2 typed=$3
export XDG_RUNTIME_DIR=$runtime XDG_CURRENT_DESKTOP=GNOME HOME=$runtime/home
mkdir -p "$HOME"
mutter --headless --wayland --no-x11 --virtual-monitor 1024x768 &
for _ in $(seq 100); do [ -S "$runtime/wayland-0" ] && break; sleep 0.1; done
export WAYLAND_DISPLAY=wayland-0
# The portal and its GNOME backend are started by the bus: they need the display.
dbus-update-activation-environment WAYLAND_DISPLAY XDG_CURRENT_DESKTOP XDG_RUNTIME_DIR HOME
QT_QPA_PLATFORM=wayland "$target" "$typed" &
for _ in $(seq 100); do [ -e "$typed.wid" ] && break; sleep 0.1; done
echo "$DBUS_SESSION_BUS_ADDRESS" > "$runtime/bus.part" && mv "$runtime/bus.part" "$runtime/bus"
wait
