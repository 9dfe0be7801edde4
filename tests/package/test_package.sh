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
for path in ./usr/bin/zrvterm ./usr/bin/zrvsim ./usr/share/applications/org.example.zrvterm.desktop ./usr/share/metainfo/org.example.zrvterm.metainfo.xml \
            ./usr/share/icons/hicolor/scalable/apps/zrvterm.svg ./usr/share/man/man1/zrvterm.1.gz \
            ./usr/share/man/man1/zrvsim.1.gz ./usr/share/doc/zrvterm/copyright ./usr/bin/zrvcollect \
            ./usr/share/man/man1/zrvcollect.1.gz ./usr/lib/systemd/system/zrvcollect.timer \
            ./usr/lib/systemd/system/zrvcollect.service ./usr/lib/systemd/system/zrvcollect-round.service \
            ./usr/share/doc/zrvterm/examples/stations.toml ./usr/share/zrvterm/prometheus/zrv.rules.yml \
            ./usr/bin/zrvweb ./usr/share/man/man1/zrvweb.1.gz ./usr/lib/systemd/system/zrvweb.service; do
  grep -qF -- " $path" <<<"$list" || fail "the package lacks $path"
done
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6core6 libc6 qt6-qpa-plugins; do
  grep -qF "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"
mkdir "$out/root"
dpkg-deb -x "$deb" "$out/root"
desktop="$out/root/usr/share/applications/org.example.zrvterm.desktop"
desktop-file-validate "$desktop" || fail "desktop entry is not valid"
grep -qx "Exec=zrvterm --user-data" "$desktop" || fail "the menu does not start it with --user-data"
appstreamcli validate --no-net --pedantic "$out/root/usr/share/metainfo/org.example.zrvterm.metainfo.xml" >"$out/appstream.log" 2>&1 ||
  { cat "$out/appstream.log" >&2; fail "the AppStream metainfo is not valid"; }
grep -qF "<release version=\"$version\"" "$out/root/usr/share/metainfo/org.example.zrvterm.metainfo.xml" ||
  fail "the metainfo does not name release $version"
# Built and stripped as a hardened Debian package is: lintian finds no missing
# hardening and no sections a package should not carry.
lintian -I --pedantic --no-cfg "$deb" >"$out/lintian.log" 2>&1 || true
if grep -E "hardening-|unneeded-section|^E:" "$out/lintian.log" >&2; then fail "lintian: see above"; fi
# The collector's services: hardened enough for an audited network.
# The web console faces people, not ports: stricter still.
for limit in zrvcollect.service:3.0 zrvcollect-round.service:3.0 zrvweb.service:2.0; do
  unit=${limit%%:*} most=${limit#*:}
  exposure=$(systemd-analyze security --offline=true --no-pager "$out/root/usr/lib/systemd/system/$unit" 2>&1 |
    sed -n "s/.*Overall exposure level for $unit: \([0-9.]*\).*/\1/p")
  [ -n "$exposure" ] || fail "systemd-analyze gave no exposure level for $unit"
  awk -v e="$exposure" -v m="$most" 'BEGIN { exit !(e <= m) }' || fail "$unit exposure $exposure is above $most"
  echo "test_package: $unit exposure $exposure"
done
# And well formed, as systemd reads them from the package's own tree (the
# targets they name and kill(1) copied in); a warning is a fault too.
units="$out/root/usr/lib/systemd/system"
cp /lib/systemd/system/*.target "$units/"
mkdir -p "$out/root/usr/bin" && cp /bin/kill "$out/root/usr/bin/kill" && ln -sfn usr/bin "$out/root/bin"
verify=$(systemd-analyze verify --man=no --root="$out/root" /usr/lib/systemd/system/zrvcollect.service \
  /usr/lib/systemd/system/zrvcollect-round.service /usr/lib/systemd/system/zrvcollect.timer \
  /usr/lib/systemd/system/zrvweb.service 2>&1) ||
  fail "systemd-analyze verify: $verify"
[ -z "$verify" ] || fail "systemd-analyze verify: $verify"
dpkg-deb -e "$deb" "$out/control"
grep -q "adduser .*--system .*zrvcollect" "$out/control/postinst" || fail "postinst makes no zrvcollect user"
echo "test_package: $(basename "$deb") holds the programs, menu entry, icon and manual pages"
