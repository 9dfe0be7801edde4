#!/usr/bin/env bash
# Runs the README's test command the way a newcomer would: in a minimal
# Debian 12 root (debootstrap --variant=minbase bookworm, plus git,
# ca-certificates and sudo), as an ordinary user with sudo, on a copy of the
# committed tree. Prints the outcome and the time; unmounts and removes what
# it made whatever happens. Needs root and Debian's mirror; about half an
# hour on 2 cores.
#   scripts/fresh-check.sh [FOLDER]     the root is made in FOLDER (kept
#                                       there for a second run), else in a
#                                       temporary folder removed at the end
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
if [ "$(id -u)" -ne 0 ]; then echo "fresh-check: run it as root (it makes a chroot)" >&2; exit 2; fi

keep=""
if [ $# -ge 1 ]; then
  target="$(mkdir -p "$1" && cd "$1" && pwd)"
  keep=yes
else
  target="$(mktemp -d /var/tmp/zrv-fresh.XXXXXX)"
fi
# The root of the new system: mktemp's 0700 would keep the ordinary user
# out of "/" itself.
chmod 755 "$target"
mounts=()
cleanup() {
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount -l "${mounts[$i]}" 2>/dev/null || true; done
  if [ -z "$keep" ]; then rm -rf --one-file-system "$target"; fi
}
trap cleanup EXIT INT TERM

command -v debootstrap >/dev/null || { apt-get update -qq && apt-get install -y -qq debootstrap >/dev/null; }
mirror="${DEBIAN_MIRROR:-$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)}"
mirror="${mirror:-http://deb.debian.org/debian}"

start=$(date +%s)
if [ ! -x "$target/usr/bin/sudo" ]; then
  echo "fresh-check: a minimal Debian 12 root in $target (from $mirror)"
  debootstrap --variant=minbase --include=git,ca-certificates,sudo bookworm "$target" "$mirror" >"$target.debootstrap.log" 2>&1 ||
    { tail -n 20 "$target.debootstrap.log" >&2; echo "fresh-check: debootstrap failed" >&2; exit 1; }
  rm -f "$target.debootstrap.log"
fi
for m in proc sys dev dev/pts; do
  mkdir -p "$target/$m"
  case $m in
    proc) mount -t proc proc "$target/proc" ;;
    sys) mount -t sysfs sys "$target/sys" ;;
    dev) mount --bind /dev "$target/dev" ;;
    dev/pts) mount -t devpts -o newinstance,ptmxmode=0666 devpts "$target/dev/pts" ;;
  esac
  mounts+=("$target/$m")
done
cp /etc/resolv.conf "$target/etc/resolv.conf" 2>/dev/null || true
# The authorities this machine's administrator added (a proxy's, say) are
# the newcomer's too: npm reaches its registry through them.
if compgen -G "/usr/local/share/ca-certificates/*.crt" >/dev/null; then
  mkdir -p "$target/usr/local/share/ca-certificates"
  cp /usr/local/share/ca-certificates/*.crt "$target/usr/local/share/ca-certificates/"
  chroot "$target" update-ca-certificates >/dev/null 2>&1 || true
fi
# The /etc/hosts an installed Debian has (localhost for IPv4 and IPv6, then
# the host's own name, which sudo looks up); debootstrap leaves none.
if ! grep -qE '^[[:space:]]*127\.0\.0\.1[[:space:]].*\blocalhost\b' "$target/etc/hosts" 2>/dev/null; then
  cat >"$target/etc/hosts" <<HOSTS
127.0.0.1	localhost
127.0.1.1	$(hostname)

# The following lines are desirable for IPv6 capable hosts
::1     localhost ip6-localhost ip6-loopback
ff02::1 ip6-allnodes
ff02::2 ip6-allrouters
HOSTS
fi
chroot "$target" /bin/sh -c 'id newcomer >/dev/null 2>&1 || useradd -m -s /bin/bash newcomer'
echo 'newcomer ALL=(ALL) NOPASSWD: ALL' >"$target/etc/sudoers.d/newcomer"
chmod 0440 "$target/etc/sudoers.d/newcomer"

# The committed tree only, as a clone would have it.
rm -rf "$target/home/newcomer/zrvterm"
mkdir -p "$target/home/newcomer/zrvterm"
git -C "$root" archive HEAD | tar -x -C "$target/home/newcomer/zrvterm"
chroot "$target" chown -R newcomer:newcomer /home/newcomer/zrvterm

echo "fresh-check: ./scripts/test.sh as an ordinary user"
set +e
chroot "$target" /usr/bin/env -i HOME=/home/newcomer PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 \
  /usr/bin/sudo -u newcomer -H /bin/bash -c 'cd ~/zrvterm && ./scripts/test.sh' 2>&1 | tee "$target.test.log" | tail -n 30
status=${PIPESTATUS[0]}
set -e
minutes=$(( ($(date +%s) - start + 59) / 60 ))
if [ "$status" -eq 0 ]; then
  echo "fresh-check: PASSED in about $minutes min (the whole log: $target.test.log)"
else
  echo "fresh-check: FAILED with status $status after about $minutes min (the whole log: $target.test.log)"
fi
exit "$status"
