#!/usr/bin/env bash
# zrvterm and zrvsim answer --version and --help on standard output and end,
# with no display to be had.
set -euo pipefail
zrvterm="$1" zrvsim="$2" version="$3" readme="$4"
nodisplay=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
fail() { echo "test_cli: $*" >&2; exit 1; }

out=$("${nodisplay[@]}" "$zrvterm" --version) || fail "zrvterm --version ended with $?"
[ "$out" = "zrvterm $version" ] || fail "zrvterm --version said '$out'"
out=$("${nodisplay[@]}" "$zrvterm" --help) || fail "zrvterm --help ended with $?"
for want in "Usage: zrvterm" "--user-data" "--version" "XDG_DATA_HOME/zrvterm" "zrvterm/ports" "tcp HOST PORT" \
            "--connect" "--address" "--modem" "SIGTERM"; do
  grep -qF -- "$want" <<<"$out" || fail "zrvterm --help lacks '$want'"
done
out=$("$zrvsim" --version) || fail "zrvsim --version ended with $?"
[ "$out" = "zrvsim $version" ] || fail "zrvsim --version said '$out'"
out=$("$zrvsim" --help) || fail "zrvsim --help ended with $?"
# Every option the README's table of zrvsim names is in its --help.
options=$(sed -n '/^## The simulated device/,/^## /p' "$readme" | grep '^| `--' | grep -oE -- '--[a-z-]+' | sort -u)
[ -n "$options" ] || fail "no zrvsim options found in $readme"
for o in $options; do grep -qE -- "$o\b" <<<"$out" || fail "zrvsim --help lacks $o, which the README names"; done
# A command line that cannot be carried out is refused before any window.
for bad in "--connect COM0" "--connect COM33" "--connect /dev/ttyS0" "--connect COM1 --address 129" \
           "--address 5" "--connect COM1 --modem 12;34"; do
  set +e
  err=$("${nodisplay[@]}" "$zrvterm" $bad 2>&1 >/dev/null)
  status=$?
  set -e
  [ "$status" = 2 ] || fail "zrvterm $bad ended with $status, not 2"
  grep -qF -- "--help" <<<"$err" || fail "zrvterm $bad said '$err'"
done
echo "test_cli: both programs answer without a display"
