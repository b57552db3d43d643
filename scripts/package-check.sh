#!/usr/bin/env bash
# Checks a Debian package of Ostrim as Debian's tools and a fresh Debian 12 system see it:
# lintian first, then, in a copy of a minimal Debian 12 made by debootstrap, that apt installs
# it with all it needs, that the program runs, and that purging it leaves no file behind.
#
#   scripts/package-check.sh PACKAGE.deb
#
# The minimal system is made once and kept outside the clone, in $OSTRIM_DEBOOTSTRAP_CACHE
# (/var/cache/ostrim-debootstrap); each check works on a fresh copy of it. Needs root.
set -euo pipefail

deb=$(realpath "$1")
cache=${OSTRIM_DEBOOTSTRAP_CACHE:-/var/cache/ostrim-debootstrap}
suite=bookworm
base=$cache/$suite

say() { echo "package-check: $*"; }
fail() { echo "package-check: $*" >&2; exit 1; }

# debootstrap's mirror: $OSTRIM_DEBIAN_MIRROR, or the one this machine's apt uses.
# shellcheck source=scripts/debian-mirror.sh
source "$(dirname "$0")/debian-mirror.sh"
mirror=$(debian_mirror) || exit 1

[[ $(id -u) -eq 0 ]] || fail "needs root, for debootstrap and chroot"

# No lintian tag of level warning or error is tolerated, and none is overridden.
say "lintian $(basename "$deb")"
lintian_status=0
report=$(lintian --fail-on error,warning "$deb" 2>&1) || lintian_status=$?
grep -v '^running with root privileges' <<<"$report" || true
[[ $lintian_status -eq 0 ]] || fail "lintian found errors or warnings"

if [[ ! -x $base/usr/bin/apt-get ]]; then
    say "making a minimal Debian 12 system in $base (once)"
    mkdir -p "$cache"
    rm -rf "$base.partial"
    debootstrap --variant=minbase "$suite" "$base.partial" "$mirror" >"$cache/debootstrap.log" 2>&1 ||
        { tail -20 "$cache/debootstrap.log" >&2; fail "debootstrap failed"; }
    mv "$base.partial" "$base"
fi

root=$(mktemp -d /var/tmp/ostrim-package-check.XXXXXX)
cleanup() {
    umount "$root/proc" 2>/dev/null || true
    rm -rf --one-file-system "$root"
}
trap cleanup EXIT
cp -a "$base/." "$root/"
# This copy never reaches a real serial port: it has no such device nodes and no /sys.
find "$root/dev" -name 'tty[A-Z]*' -delete
cp /etc/resolv.conf "$root/etc/resolv.conf"
cp "$deb" "$root/tmp/"
mount -t proc proc "$root/proc"

in_root() {
    chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive "$@"
}
package=/tmp/$(basename "$deb")

say "apt-get install ./$(basename "$deb") in a fresh Debian 12"
in_root apt-get update -qq
in_root apt-get install -y -qq --no-install-recommends "$package" >"$root/tmp/install.log" 2>&1 ||
    { cat "$root/tmp/install.log" >&2; fail "apt-get could not install the package"; }
in_root dpkg -L ostrim >"$root/tmp/ostrim-files"

version=$(in_root ostrim --version) || fail "ostrim --version failed"
[[ $version == "Ostrim "* ]] || fail "ostrim --version printed: $version"
say "ostrim --version: $version"
ports=$(in_root ostrim --list-ports) || fail "ostrim --list-ports failed"
say "ostrim --list-ports: $ports"

in_root dpkg --purge ostrim >/dev/null || fail "dpkg --purge failed"
left=()
while read -r path; do
    [[ -e $root$path || -L $root$path ]] || continue
    # Directories such as /usr/share are shared with other packages and stay.
    [[ -d $root$path ]] && in_root dpkg -S "$path" >/dev/null 2>&1 && continue
    left+=("$path")
done <"$root/tmp/ostrim-files"
# Files the program might have made while it ran, e.g. under /root or /etc.
while read -r path; do
    left+=("${path#"$root"}")
done < <(find "$root" -xdev -newer "$root/tmp/ostrim-files" -type f \
    ! -path "$root/var/lib/dpkg/*" ! -path "$root/var/log/*" ! -path "$root/var/cache/*" \
    ! -path "$root/tmp/*")
[[ ${#left[@]} -eq 0 ]] || fail "dpkg --purge ostrim left: ${left[*]}"
say "dpkg --purge ostrim left no file behind"
