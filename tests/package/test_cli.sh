#!/usr/bin/env bash
# zrvterm and zrvsim answer --version and --help on standard output and end,
# with no display to be had.
set -euo pipefail
zrvterm="$1" zrvsim="$2" version="$3"
nodisplay=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
fail() { echo "test_cli: $*" >&2; exit 1; }

out=$("${nodisplay[@]}" "$zrvterm" --version) || fail "zrvterm --version ended with $?"
[ "$out" = "zrvterm $version" ] || fail "zrvterm --version said '$out'"
out=$("${nodisplay[@]}" "$zrvterm" --help) || fail "zrvterm --help ended with $?"
for want in "Usage: zrvterm" "--user-data" "--version" "XDG_DATA_HOME/zrvterm" "zrvterm/ports"; do
  grep -qF -- "$want" <<<"$out" || fail "zrvterm --help lacks '$want'"
done
out=$("$zrvsim" --version) || fail "zrvsim --version ended with $?"
[ "$out" = "zrvsim $version" ] || fail "zrvsim --version said '$out'"
out=$("$zrvsim" --help) || fail "zrvsim --help ended with $?"
grep -qF -- "--com N" <<<"$out" || fail "zrvsim --help lacks --com"
echo "test_cli: both programs answer without a display"
