#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) and runs one of them, or
# all of them with "all", for the given number of seconds each, starting from
# its committed corpus. New inputs go to a temporary folder, never into the
# corpus; an input that breaks a target is kept in build-fuzz/artifacts.
#   scripts/fuzz.sh TARGET SECONDS     e.g. scripts/fuzz.sh reply 600
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
target="${1:-all}"
seconds="${2:-20}"
targets=(reply settings journal setpoints modem cp1251 clock files roster spool)
if [ "$target" != all ]; then targets=("$target"); fi

echo "fuzz: building the targets with clang, ASan and UBSan in build-fuzz (about a minute the first time)"
CC=clang CXX=clang++ "$root/scripts/build.sh" "$root/build-fuzz" -DZRV_FUZZ=ON >/dev/null
artifacts="$root/build-fuzz/artifacts"
mkdir -p "$artifacts"
status=0
for t in "${targets[@]}"; do
  bin="$root/build-fuzz/tests/fuzz/fuzz_$t"
  if [ ! -x "$bin" ]; then echo "fuzz: no target '$t' (${targets[*]})" >&2; exit 2; fi
  work="$(mktemp -d)"
  log="$work/log"
  if "$bin" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$artifacts/$t-" \
       "$work" "$root/tests/fuzz/corpus/$t" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    echo "fuzz_$t: ${runs:-?} executions in ${seconds} s, every check held"
  else
    echo "fuzz_$t: FAILED" >&2
    grep -E "does not hold|ERROR|SUMMARY|artifact" "$log" | head -n 20 >&2 || tail -n 30 "$log" >&2
    status=1
  fi
  rm -rf "$work"
done
exit "$status"
