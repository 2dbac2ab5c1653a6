#!/bin/bash
# A headless desktop with the desktop portal, for the portal typing tests; run inside
# dbus-run-session as the desktop user.
#   portal-session.sh gnome|kde <runtime folder> <type_target> <typed file> [wayland|x11] [layouts] [ask]
# GNOME is mutter; KDE is KWin with Xwayland, whose keyboard gets `layouts` ("de",
# "de,us": the first one active), and whose target may be an X11 window; Plasma 6 is
# given the user's consent to remote control beforehand unless `ask` is given.  Writes
# Plasma's major version to <runtime folder>/plasma, and the session bus address to
# <runtime folder>/bus once the target window has the keyboard.
set -u
desktop=$1 runtime=$2 target=$3 typed=$4 kind=${5:-wayland} layouts=${6:-us} ask=${7:-}
export XDG_RUNTIME_DIR=$runtime HOME=$runtime/home XDG_CONFIG_HOME=$runtime/home/.config
mkdir -p "$XDG_CONFIG_HOME"
case $desktop in
gnome)
  # As a GNOME login sets them: GNOME 48's portal backend offers nothing but settings
  # unless the session type says Wayland.
  export XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_TYPE=wayland
  mutter --headless --wayland --no-x11 --virtual-monitor 1024x768 &
  ;;
kde)
  # Plasma 5 or 6, as its login says.
  plasma=$(dpkg-query -W -f='${Version}' kwin-wayland 2>/dev/null | sed -n 's/^\([0-9]*:\)\{0,1\}\([0-9]*\)\..*/\2/p')
  export XDG_CURRENT_DESKTOP=KDE KDE_FULL_SESSION=true KDE_SESSION_VERSION=${plasma:-5} XDG_SESSION_TYPE=wayland
  echo "${plasma:-5}" > "$runtime/plasma"
  # Qt programs (the portal's consent dialog) on the accessibility bus, where the tests
  # answer the dialog as a screen reader would.
  export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
  # Software drawing throughout: the machine may have no GPU.
  export KWIN_COMPOSE=Q QT_QUICK_BACKEND=software LIBGL_ALWAYS_SOFTWARE=1
  printf '[Layout]\nUse=true\nLayoutList=%s\n' "$layouts" > "$XDG_CONFIG_HOME/kxkbrc"
  # Where the tests click (a Wayland client cannot place itself): the target at the top
  # left, Quorvel's main window right of it, neither with a frame.
  rule() {
    printf '[%s]\nDescription=%s\nwmclass=%s\nwmclassmatch=1\nposition=%s\npositionrule=2\n' \
      "$1" "$2" "$2" "$3"
    printf 'noborder=true\nnoborderrule=2\n\n'
  }
  { printf '[General]\ncount=2\nrules=1,2\n\n'
    rule 1 type_target 0,0
    rule 2 quorvel 660,40; } > "$XDG_CONFIG_HOME/kwinrulesrc"
  # The installed kwin_wayland carries a file capability that a container's bounding set
  # may lack, which makes exec fail; a copy carries none and needs none.
  cp /usr/bin/kwin_wayland "$runtime/kwin_wayland"
  # KWin starts this once Xwayland is up, with its display in the environment.
  printf '#!/bin/sh\necho "$DISPLAY" > "%s/display.part" && mv "%s/display.part" "%s/display"\n' \
    "$runtime" "$runtime" "$runtime" > "$runtime/display.sh"
  chmod +x "$runtime/display.sh"
  # KWin 6 reads the desktop settings through the portal as it starts, which starts the
  # portal with the bus's environment: give the bus the desktop's first, as a login does.
  dbus-update-activation-environment --all
  # Qt 6.8's own desktop themes crash KWin 6.3 while it starts when Plasma's theme plugin
  # (plasma-integration, part of every Plasma desktop) is missing; KWin draws nothing
  # the theme could change here.  KWin 6 offers its privileged protocols (fake input and
  # screen casting, which the portal needs) only to programs it finds in KDE's service
  # cache, which a bare session does not give it: it skips that check here.
  QT_QPA_PLATFORMTHEME=generic KWIN_WAYLAND_NO_PERMISSION_CHECKS=1 "$runtime/kwin_wayland" --virtual --xwayland --width 1024 --height 768 --socket wayland-0 \
    --no-lockscreen --no-global-shortcuts --no-kactivities "$runtime/display.sh" &
  for _ in $(seq 300); do [ -e "$runtime/display" ] && break; sleep 0.1; done
  DISPLAY=$(cat "$runtime/display")
  export DISPLAY
  ;;
*) echo "unknown desktop $desktop" >&2; exit 2 ;;
esac
for _ in $(seq 100); do [ -S "$runtime/wayland-0" ] && break; sleep 0.1; done
export WAYLAND_DISPLAY=wayland-0
# The portal and its backend are started by the bus: they need the display.
dbus-update-activation-environment --all
if [ "$desktop" = kde ] && [ "${plasma:-5}" -ge 6 ] && [ "$ask" != ask ]; then
  # Plasma 6 asks before remote control; a user who trusts Quorvel grants it once in the
  # permission store, as the README says (`flatpak permission-set kde-authorized
  # remote-desktop "" yes`: "" is every program started without an app id).
  gdbus call --session -d org.freedesktop.impl.portal.PermissionStore \
    -o /org/freedesktop/impl/portal/PermissionStore \
    -m org.freedesktop.impl.portal.PermissionStore.SetPermission \
    kde-authorized true remote-desktop "" "['yes']" >/dev/null
fi
if [ "$kind" = x11 ]; then
  QT_QPA_PLATFORM=xcb "$target" "$typed" &
else
  QT_QPA_PLATFORM=wayland "$target" "$typed" &
fi
for _ in $(seq 100); do [ -e "$typed.wid" ] && break; sleep 0.1; done
# KWin 6 gives a new Xwayland window the keyboard a moment after showing it.
for _ in $(seq 100); do [ -e "$typed.focus" ] && break; sleep 0.1; done
echo "$DBUS_SESSION_BUS_ADDRESS" > "$runtime/bus.part" && mv "$runtime/bus.part" "$runtime/bus"
wait
