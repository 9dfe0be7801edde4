#!/usr/bin/env bash
# The web console on a simulated fleet: sets up and builds, starts four
# simulated stations, a collector that calls each every 30 s into an SQLite
# store under run/web/, and zrvweb on 127.0.0.1:8080 (or PORT from the
# first argument). Without a display it writes a screenshot of the fleet's
# page to run/web/screenshot.png. Ctrl-C stops them all.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
port="${1:-8080}"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build"
dir="$root/run/web"
mkdir -p "$dir"
sim=$(( 20000 + RANDOM % 20000 ))

pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT INT TERM

"$root/build/sim/zrvsim" --tcp "$sim" --fleet 4 --journal 200 --journal-every 20 &
pids+=($!)
{
  echo "[defaults]"
  echo "every = \"30s\""
  i=0
  for name in "ГРП-1 Заречная" "ГРП-2 Школьная" "ШРП-7 Полевая" "ГРП-4 Котельная"; do
    printf '[[station]]\nname = "%s"\nport = "tcp 127.0.0.1 %d"\n' "$name" $(( sim + i ))
    i=$(( i + 1 ))
  done
  printf '[[station]]\nname = "ГРП-9 Лесная"\nport = "tcp 127.0.0.1 %d"\nretries = 0\n' $(( sim + 9 ))
} > "$dir/stations.toml"
sleep 0.5
"$root/build/src/zrvcollect" --serve --roster "$dir/stations.toml" --store "sqlite:$dir/zrv.db" \
  --state-dir "$dir/state" 2>"$dir/collect.log" &
pids+=($!)
for _ in $(seq 100); do [ -s "$dir/zrv.db" ] && break; sleep 0.1; done
"$root/build/src/zrvweb" --roster "$dir/stations.toml" --store "$dir/zrv.db" --listen "127.0.0.1:$port" &
pids+=($!)
sleep 5
echo "web: the fleet is at http://127.0.0.1:$port/ (Ctrl-C stops the stations, the collector and the console)"
if [ -z "${DISPLAY:-}" ] && command -v chromium >/dev/null; then
  chromium --headless --no-sandbox --disable-gpu --window-size=1400,800 --virtual-time-budget=5000 \
    --screenshot="$dir/screenshot.png" "http://127.0.0.1:$port/" >/dev/null 2>&1 || true
  echo "web: no display here; a screenshot of the page is in $dir/screenshot.png"
fi
wait
