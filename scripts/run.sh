#!/usr/bin/env bash
# Sets up, builds, starts the simulated ZRV on COM1 and the terminal against
# it. Without a display it starts a virtual one and keeps a screenshot of it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build"

pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT INT TERM

# The simulator links COM1 to its pseudo-terminal in the ports folder.
"$root/build/sim/zrvsim" --com 1 --pace --journal 300 &
pids+=($!)
ports="${XDG_CONFIG_HOME:-$HOME/.config}/zrvterm/ports"
for _ in $(seq 50); do [ -e "$ports/COM1" ] && break; sleep 0.1; done

# The terminal keeps zrvterm.ini in its working folder.
mkdir -p "$root/run"
cd "$root/run"

if [ -z "${DISPLAY:-}" ]; then
  display=":$(( 90 + RANDOM % 100 ))"
  Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp &
  pids+=($!)
  export DISPLAY="$display"
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  shot="$root/run/screenshot.png"
  echo "run: no display here; the terminal runs on the virtual display $display."
  echo "run: a screenshot is written every 5 s to $shot (look at it with any image viewer)."
  ( while sleep 5; do import -window root "$shot.tmp.png" 2>/dev/null && mv "$shot.tmp.png" "$shot"; done ) &
  pids+=($!)
fi

"$root/build/src/zrvterm"
