#!/bin/sh
# The layer check fails on an include that runs the wrong way: between
# folders (the link looking up at the session), and inside the collector (an
# output looking up at the fan-out); and it names each one.
set -eu
check="$1"
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/link" "$tree/session" "$tree/collect"
printf '#pragma once\n' >"$tree/session/Session.h"
printf '#pragma once\n#include "collect/FleetTypes.h"\n' >"$tree/collect/SinkThread.h"
printf '#pragma once\n' >"$tree/collect/FleetTypes.h"
printf '#pragma once\n#include "collect/FleetTypes.h"\n' >"$tree/collect/Store.h"
cmake -DSRC="$tree" -P "$check" >/dev/null 2>&1 || { echo "a tree in line was refused"; exit 1; }
printf '#include "collect/SinkThread.h"\n' >>"$tree/collect/Store.h"
printf '#include "session/Session.h"\n' >"$tree/link/Wire.h"
if out=$(cmake -DSRC="$tree" -P "$check" 2>&1); then
    echo "an output including the fan-out passed"
    exit 1
fi
echo "$out" | grep -q 'collect/Store.h: #include "collect/SinkThread.h"' || { echo "$out"; exit 1; }
echo "$out" | grep -q 'link/Wire.h: #include "session/Session.h"' || { echo "$out"; exit 1; }
