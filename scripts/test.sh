#!/usr/bin/env bash
# Sets up, builds and runs every test: the logic and session tests under
# AddressSanitizer with UndefinedBehaviorSanitizer, then under
# ThreadSanitizer, the fuzz targets for a short while each, then the whole
# suite in a normal build.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"

export QT_QPA_PLATFORM=offscreen
# Tests that place COMn links keep them out of the user's own ports folder.
export XDG_CONFIG_HOME="$(mktemp -d)"
trap 'rm -rf "$XDG_CONFIG_HOME"' EXIT

echo "== sanitizers: logic and link tests under ASan+UBSan"
"$root/scripts/build.sh" "$root/build-asan" -DZRV_LOGIC_ONLY=ON -DZRV_SANITIZE=address,undefined
(cd "$root/build-asan" && ctest -j "$(nproc)" --output-on-failure)

echo "== sanitizers: threaded logic and link tests under ThreadSanitizer"
"$root/scripts/build.sh" "$root/build-tsan" -DZRV_LOGIC_ONLY=ON -DZRV_SANITIZE=thread
(cd "$root/build-tsan" && ctest -j "$(nproc)" --output-on-failure)

echo "== fuzzing: each target briefly on its corpus under ASan+UBSan"
"$root/scripts/fuzz.sh" all 20

echo "== all tests"
"$root/scripts/build.sh" "$root/build"
cd "$root/build"
ctest -j "$(nproc)" --output-on-failure --timeout 300
