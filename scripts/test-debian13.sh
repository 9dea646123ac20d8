#!/usr/bin/env bash
# Builds and tests the editor on Debian 13 (trixie, Qt 6.8) in a system made
# with debootstrap, as a user of the current Debian would: the README's
# install and test commands run inside it (the sanitized build is left out).
# The system is kept between runs in $OSTREL_DEBIAN13_ROOT (by default
# build-debian13/root); the sources are copied in afresh each time. Root only.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
root=${OSTREL_DEBIAN13_ROOT:-$src/build-debian13/root}
[ "$(id -u)" -eq 0 ] || { echo "test-debian13.sh: run it as root (debootstrap and chroot)" >&2; exit 1; }

# The archive apt already uses, so no other host is reached.
mirror=$(sed -n 's/^URIs: *\(http[^ ]*\/debian\)$/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -1)
mirror=${mirror:-$(sed -n 's/^deb \(http[^ ]*\/debian\) .*/\1/p' /etc/apt/sources.list 2>/dev/null | head -1)}
mirror=${mirror:-http://deb.debian.org/debian}

if ! command -v debootstrap >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
fi
if [ ! -x "$root/usr/bin/apt-get" ] || [ ! -f "$root/.ostrel-ready" ]; then
  rm -rf "$root"; mkdir -p "$root"
  debootstrap --variant=minbase --include=ca-certificates,sudo trixie "$root" "$mirror"
  touch "$root/.ostrel-ready"
fi

mounted=()
cleanup() {
  local i
  for ((i=${#mounted[@]}-1; i>=0; i--)); do umount -l "${mounted[$i]}" 2>/dev/null || true; done
}
trap cleanup EXIT
mkdir -p "$root/proc" "$root/sys" "$root/dev"
mount -t proc proc "$root/proc"; mounted+=("$root/proc")
# Slave mounts, so that nothing mounted or unmounted below the system's
# folders reaches the machine's own.
for d in sys dev; do
  mount --rbind "/$d" "$root/$d"; mount --make-rslave "$root/$d"; mounted+=("$root/$d")
done
cp /etc/resolv.conf "$root/etc/resolv.conf"

# The sources as committed plus what is changed in the work tree, without builds.
rm -rf "$root/src/ostrel"; mkdir -p "$root/src/ostrel"
git ls-files -co --exclude-standard -z | tar --null -T - -cf - | tar -xf - -C "$root/src/ostrel"

mkdir -p "$src/build-debian13"
log=$src/build-debian13/test.log
# Failing tests must not end the script before its summary.
set +e
chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
  OSTREL_TEST_SANITIZED=0 bash -c 'cd /src/ostrel && bash scripts/test.sh' 2>&1 | tee "$log"
rc=${PIPESTATUS[0]}
set -e
echo "== Debian 13 ($(chroot "$root" dpkg-query -W -f='Qt ${Version}' qt6-base-dev 2>/dev/null), $(chroot "$root" gcc -dumpfullversion 2>/dev/null | sed 's/^/GCC /')) =="
grep -E '^[0-9]+% tests passed|tests failed|\(Failed\)|\*\*\*' "$log" || true
exit "$rc"
