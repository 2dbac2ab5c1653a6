#!/usr/bin/env bash
# scripts/start without a display: the program runs on an Xvfb of the script's own, and
# when the program ends, that Xvfb ends too (and its temporary folder goes).  A stop
# request to the script alone (a service manager) or to its whole process group (timeout,
# Ctrl+C) ends the program the normal way first: it saves while its display still runs.
set -euo pipefail
src=$1 build=$2
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/scripts" "$root/build"
cp "$src/scripts/start" "$root/scripts/"
cp "$build/quorvel" "$root/build/"
[ -f "$build/advert.so" ] && cp "$build/advert.so" "$root/build/"
printf '[Options]\r\nTipOfTheDay=0\r\n' > "$root/build/Quorvel.ini"
for how in program-ends script-terminated group-terminated; do
  rm -f "$root/build/Quorvel.dat"
  # Its own process group, as under a service manager or timeout.
  env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= setsid "$root/scripts/start" > "$root/out" 2>&1 &
  script=$!
  for _ in $(seq 100); do grep -q "virtual display" "$root/out" && break; sleep 0.1; done
  display=$(sed -n 's/.*virtual display \(:[0-9]*\).*/\1/p' "$root/out")
  [ -n "$display" ] || { echo "no display reported: $(cat "$root/out")"; exit 1; }
  xvfb=$(pgrep -f "^Xvfb -displayfd" -P "$script" || true)
  [ -n "$xvfb" ] || { echo "no Xvfb under the script"; exit 1; }
  prog=""
  for _ in $(seq 100); do prog=$(pgrep -x quorvel -P "$script" || true); [ -n "$prog" ] && break; sleep 0.1; done
  [ -n "$prog" ] || { echo "the program did not start: $(cat "$root/out")"; exit 1; }
  sleep 1
  case $how in
    program-ends) kill -KILL "$prog" ;;
    script-terminated) kill -TERM "$script" ;;
    group-terminated) kill -TERM -- "-$script" ;;
  esac
  wait "$script" || true
  if [ "$how" != program-ends ]; then
    if kill -0 "$prog" 2>/dev/null; then echo "$how: the program still runs"; kill -KILL "$prog"; exit 1; fi
    [ -f "$root/build/Quorvel.dat" ] || { echo "$how: the program did not save: $(cat "$root/out")"; exit 1; }
    if grep -qi "connection" "$root/out"; then echo "$how: the display went first: $(cat "$root/out")"; exit 1; fi
  fi
  for _ in $(seq 50); do kill -0 "$xvfb" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$xvfb" 2>/dev/null; then echo "$how: Xvfb $display ($xvfb) still runs"; kill "$xvfb"; exit 1; fi
  echo "$how: Xvfb $display stopped with the program"
done
