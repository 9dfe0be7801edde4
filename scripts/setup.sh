#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing need,
# and every tool the scripts, the tests and the README's steps call (a
# minimal Debian has none of file, lintian or appstreamcli). Only asks apt
# when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev qt6-charts-dev libqt6opengl6-dev
  libgtest-dev googletest libmodbus-dev clang libclang-rt-14-dev dpkg-dev desktop-file-utils
  file lintian appstream gzip
  libtomlplusplus-dev libqt6sql6-sqlite libqt6sql6-psql sqlite3 libsqlite3-dev postgresql-15
  libmosquitto-dev mosquitto mosquitto-clients systemd adduser openssl
  libpq-dev libsystemd-dev procps prometheus-node-exporter prometheus qt6-httpserver-dev qt6-websockets-dev
  xvfb xauth x11-utils imagemagick fonts-dejavu-core fonts-liberation2
  chromium zlib1g-dev
)
# The web console's browser tests: Node.js and npm for playwright-core
# (Debian's, unless the machine has its own).
command -v node >/dev/null 2>&1 || packages+=(nodejs)
command -v npm >/dev/null 2>&1 || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# playwright-core as the lock file pins it, beside the tests that use it.
browser_tests() {
  local web
  web="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/tests/web"
  [ -f "$web/package-lock.json" ] || return 0  # a tree without the tests
  if [ ! -f "$web/node_modules/.package-lock.json" ] || [ "$web/package-lock.json" -nt "$web/node_modules/.package-lock.json" ]; then
    # Node trusts its own list of authorities; the system's (with a local
    # one an administrator added, a proxy's say) is what apt and curl trust.
    local ca="${NODE_EXTRA_CA_CERTS:-}"
    if [ -z "$ca" ] && [ -f /etc/ssl/certs/ca-certificates.crt ]; then ca=/etc/ssl/certs/ca-certificates.crt; fi
    (cd "$web" && NODE_EXTRA_CA_CERTS="$ca" npm ci --no-audit --no-fund --loglevel=error >/dev/null)
  fi
}
if [ ${#missing[@]} -eq 0 ]; then
  browser_tests
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
browser_tests
