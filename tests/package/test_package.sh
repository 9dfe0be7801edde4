#!/usr/bin/env bash
# Builds the Debian package into a temporary folder and looks inside: the
# programs, the desktop entry (valid), the icon and the manual pages, and
# dependencies worked out from the linked libraries.
set -euo pipefail
build="$1" version="$2"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
fail() { echo "test_package: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) || { cat "$out/cpack.log" >&2; fail "cpack failed"; }
deb="$out/zrvterm_${version}_amd64.deb"
[ -f "$deb" ] || fail "no $deb ($(ls "$out"))"
list=$(dpkg-deb -c "$deb")
for path in ./usr/bin/zrvterm ./usr/bin/zrvsim ./usr/share/applications/zrvterm.desktop \
            ./usr/share/icons/hicolor/scalable/apps/zrvterm.svg ./usr/share/man/man1/zrvterm.1.gz \
            ./usr/share/man/man1/zrvsim.1.gz ./usr/share/doc/zrvterm/copyright; do
  grep -qF -- " $path" <<<"$list" || fail "the package lacks $path"
done
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6core6 libc6 qt6-qpa-plugins; do
  grep -qF "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"
mkdir "$out/root"
dpkg-deb -x "$deb" "$out/root"
desktop-file-validate "$out/root/usr/share/applications/zrvterm.desktop" || fail "desktop entry is not valid"
grep -qx "Exec=zrvterm --user-data" "$out/root/usr/share/applications/zrvterm.desktop" || fail "the menu does not start it with --user-data"
echo "test_package: $(basename "$deb") holds the programs, menu entry, icon and manual pages"
