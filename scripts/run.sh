#!/usr/bin/env bash
# Sets up, builds, starts the simulated ZRV on COM1 (or the first COMn the
# user has not mapped) and the terminal against
# it. Without a display it starts a virtual one and keeps a screenshot of it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build"

# The ports folder is the user's: whatever links are there stay, and
# whatever folders this script makes go again at the end.
config="${XDG_CONFIG_HOME:-$HOME/.config}"
ports="$config/zrvterm/ports"
made=()
for d in "$config" "$config/zrvterm" "$ports"; do [ -d "$d" ] || made+=("$d"); done
com=""
for n in $(seq 1 32); do
  if [ ! -e "$ports/COM$n" ] && [ ! -L "$ports/COM$n" ]; then com=$n; break; fi
done
if [ -z "$com" ]; then
  echo "run: COM1..COM32 are all taken in $ports; remove one for the simulated ZRV." >&2
  exit 1
fi

pids=()
cleanup() {
  # The simulator removes its own link when it ends.
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  for ((i = ${#made[@]} - 1; i >= 0; i--)); do rmdir "${made[$i]}" 2>/dev/null || true; done
}
trap cleanup EXIT

# The simulator and the virtual display run in sessions of their own, as the
# terminal does: Ctrl-C reaches the whole foreground group at once, and they
# must still be there while the terminal ends its connection (Stop's frames
# go to a live device) and writes zrvterm.ini on its display. They go after
# it, in cleanup.
setsid "$root/build/sim/zrvsim" --com "$com" --pace --journal 300 &
pids+=($!)
for _ in $(seq 50); do [ -e "$ports/COM$com" ] && break; sleep 0.1; done
if [ "$com" != 1 ]; then
  echo "run: COM1 is the user's own in $ports, so the simulated ZRV is on COM$com: choose it under \"Порт\"."
fi

# The terminal keeps zrvterm.ini in its working folder.
mkdir -p "$root/run"
cd "$root/run"

if [ -z "${DISPLAY:-}" ]; then
  display=":$(( 90 + RANDOM % 100 ))"
  setsid Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp &
  pids+=($!)
  export DISPLAY="$display"
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  shot="$root/run/screenshot.png"
  echo "run: no display here; the terminal runs on the virtual display $display."
  echo "run: a screenshot is written every 5 s to $shot (look at it with any image viewer)."
  setsid sh -c 'while sleep 5; do import -window root "$1.tmp.png" 2>/dev/null && mv "$1.tmp.png" "$1"; done' sh "$shot" &
  pids+=($!)
fi

# Connected at once, as an operator would by pressing Connect: the screen
# shows a live device, not an idle terminal. It runs in a session of its own,
# so that Ctrl-C, a hang-up or a TERM reaches it once, handed on from here:
# it closes as "Выход" does (Stop, then zrvterm.ini), and a second one ends
# it at once. The simulator and the virtual display go after it has ended
# (cleanup).
setsid "$root/build/src/zrvterm" --connect "COM$com" &
term=$!
trap 'kill -TERM "$term" 2>/dev/null || true' INT TERM HUP
while kill -0 "$term" 2>/dev/null; do wait "$term" || true; done
