#!/usr/bin/env bash
# Ctrl-C on scripts/run.sh as a terminal sends it: SIGINT to run.sh's whole
# process group. The terminal must close as "Выход" does, on a display and a
# simulated device that are still there: zrvterm.ini is written in run/, and
# the last frames the device received are Stop's (external control off).
# run.sh itself runs as it is, from a copy of the tree whose build folder is
# the one under test; the simulator is wrapped only to record what it got.
set -euo pipefail
source_dir="$1"
build_dir="$2"
work="$(mktemp -d)"
runpid=""
finish() {
  if [ -n "$runpid" ]; then
    # run.sh did not end: its group, and what it started in sessions of
    # their own (the terminal and the simulator run from this copy; the
    # virtual display is named in its log).
    kill -KILL -- "-$runpid" 2>/dev/null || true
    pkill -KILL -f -- "$work/" 2>/dev/null || true
    display="$(sed -n 's/.*virtual display \(:[0-9]*\).*/\1/p' "$work/run.log" 2>/dev/null | head -n 1)"
    if [ -n "$display" ]; then pkill -KILL -f -- "Xvfb $display " 2>/dev/null || true; fi
  fi
  rm -rf "$work"
}
trap finish EXIT

mkdir -p "$work/root/scripts" "$work/root/build/sim" "$work/config"
cp "$source_dir/scripts/run.sh" "$source_dir/scripts/setup.sh" "$work/root/scripts/"
printf '#!/bin/sh\nexit 0\n' >"$work/root/scripts/build.sh"  # built already
chmod +x "$work/root/scripts/"*.sh
ln -s "$build_dir/src" "$work/root/build/src"
frames="$work/frames"
printf '#!/bin/sh\nexec "%s" --record "%s" "$@"\n' "$build_dir/sim/zrvsim" "$frames" >"$work/root/build/sim/zrvsim"
chmod +x "$work/root/build/sim/zrvsim"

# A job of its own, as an interactive shell starts it: its own process group,
# and SIGINT not ignored (a plain background command would ignore it).
set -m
env -u DISPLAY -u WAYLAND_DISPLAY XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM= \
  "$work/root/scripts/run.sh" >"$work/run.log" 2>&1 </dev/null &
runpid=$!
set +m

# Up when the first screenshot of the live terminal is there.
for _ in $(seq 300); do [ -s "$work/root/run/screenshot.png" ] && break; sleep 0.1; done
if [ ! -s "$work/root/run/screenshot.png" ]; then
  echo "run.sh did not come up:"; cat "$work/run.log"; exit 1
fi
sleep 2  # a few polling steps on the line

kill -INT -- "-$runpid"
for _ in $(seq 300); do kill -0 "$runpid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$runpid" 2>/dev/null; then echo "run.sh still runs 30 s after Ctrl-C"; cat "$work/run.log"; exit 1; fi
runpid=""

status=0
if [ ! -s "$work/root/run/zrvterm.ini" ]; then
  echo "no zrvterm.ini in run/ after Ctrl-C"; status=1
fi
if [ ! -s "$frames" ]; then
  echo "the simulator recorded nothing (it did not end in order)"; status=1
else
  # Function 5, coil 15 (0x000f), off: "01 05 00 0f 00 00" and its CRC.
  last="$(tail -n 1 "$frames")"
  case "$last" in
    "01 05 00 0f 00 00 "*) ;;
    *) echo "the last frame on the line is not Stop's external control off: $last"; status=1 ;;
  esac
fi
if [ "$status" -ne 0 ]; then cat "$work/run.log"; fi
[ "$status" -eq 0 ] && echo "Ctrl-C: zrvterm.ini written, Stop's frames the last on the line"
exit "$status"
