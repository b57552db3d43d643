#!/usr/bin/env bash
# Runs a Windows program under Wine with a /dev of its own that holds no serial device at all.
# Wine turns every /dev/ttyS*, ttyUSB* and ttyACM* it finds into a COM port by itself, and here
# /dev/ttyS0 is the machine's console; hiding the nodes behind /dev/null would still leave Wine
# a COM port for each. So Wine runs only through this script, in a private mount namespace whose
# /dev is a fresh tmpfs with null, zero, random, urandom, tty, a devpts instance of its own and
# /dev/shm. It needs root (for the namespace and the mounts); nothing outside it is changed.
#
#   scripts/wine-sandbox.sh [--display :N] WINEPREFIX PROGRAM [ARGUMENT...]
#   scripts/wine-sandbox.sh [--display :N] --driver WINEPREFIX DRIVER [ARGUMENT...]
#
# WINEPREFIX is an absolute path, a prefix of the build's own (made on first use). PROGRAM is a
# Windows program or one of Wine's own, such as wineboot. With --driver, DRIVER is a native
# program run inside the same sandbox instead, with OSTRIM_WINE naming the Wine to start Windows
# programs with: a test that makes pseudo-terminals in the sandbox's devpts, maps COM ports to
# them and watches them from the Linux side while Wine holds them. A driver also gets a Wine
# server folder (/tmp/.wine-UID) of its own, so that the Wine server it talks to is one started
# in this sandbox, opening this sandbox's devices, and never one that lingers from another.
#
# Wine gets no display unless --display names one, an X server that the caller started for it
# (the window's tests start an Xvfb); it is reached through its abstract socket, outside /dev and
# /tmp.
set -euo pipefail

fail() {
  echo "wine-sandbox: $*" >&2
  exit 125
}

# Runs in the new namespace only: it is handed to unshare below, and nothing else calls it.
sandbox() {
  local driver= display=
  if [[ $1 == --display ]]; then
    display=$2
    shift 2
  fi
  if [[ $1 == --driver ]]; then
    driver=1
    shift
  fi
  # Belt and braces: /dev is replaced only in a mount namespace other than the caller's.
  local own parent
  own=$(readlink /proc/self/ns/mnt) || fail "cannot read this process's mount namespace"
  parent=$(readlink "/proc/$PPID/ns/mnt") || fail "cannot read the caller's mount namespace"
  [[ $own != "$parent" ]] || fail "not in a mount namespace of its own; /dev left alone"
  mount --make-rprivate /

  mount -t tmpfs -o mode=0755,nosuid,size=1m wine-sandbox-dev /dev
  mknod -m 0666 /dev/null c 1 3
  mknod -m 0666 /dev/zero c 1 5
  mknod -m 0666 /dev/random c 1 8
  mknod -m 0666 /dev/urandom c 1 9
  mknod -m 0666 /dev/tty c 5 0
  mkdir /dev/pts /dev/shm
  mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 wine-sandbox-pts /dev/pts
  ln -s pts/ptmx /dev/ptmx
  mount -t tmpfs -o mode=1777,nosuid,nodev wine-sandbox-shm /dev/shm
  # Wine servers meet their clients in /tmp/.wine-UID; a folder of the driver's own there, and not
  # a /tmp of its own, which would hide a build tree that lies under /tmp.
  if [[ -n $driver ]]; then
    local servers=/tmp/.wine-$EUID
    mkdir -p -m 0700 "$servers"
    mount -t tmpfs -o mode=0700,nosuid,nodev wine-sandbox-servers "$servers"
  fi

  # Before Wine starts: no serial device under any name, and nothing but the above.
  shopt -s nullglob
  local serial=(/dev/ttyS* /dev/ttyUSB* /dev/ttyACM* /dev/pts/ttyS*)
  ((${#serial[@]} == 0)) || fail "serial devices in the sandbox's /dev: ${serial[*]}"
  local found expected="./null ./ptmx ./pts ./pts/ptmx ./random ./shm ./tty ./urandom ./zero "
  found=$(cd /dev && find . -mindepth 1 | sort | tr '\n' ' ')
  [[ $found == "$expected" ]] || fail "the sandbox's /dev holds $found, not only $expected"

  local wine
  if [[ -x /usr/lib/wine/wine64 ]]; then
    wine=/usr/lib/wine/wine64
  else
    wine=$(command -v wine64 || command -v wine) || fail "Wine is not installed"
  fi
  export WINEPREFIX=$1
  shift
  # Quiet, and never waiting for anyone: no debug output, no window, and no offer to install
  # Mono or Gecko when the prefix is made.
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY
  [[ -z $display ]] || export DISPLAY=$display
  mkdir -p "$WINEPREFIX"
  if [[ -n $driver ]]; then
    export OSTRIM_WINE=$wine OSTRIM_WINE_SANDBOX=1
    exec "$@"
  fi
  exec "$wine" "$@"
}

mode=()
if [[ ${1:-} == --display ]]; then
  [[ ${2:-} =~ ^:[0-9]+$ ]] || fail "--display takes a local X display such as :99, not ${2:-nothing}"
  mode=(--display "$2")
  shift 2
fi
if [[ ${1:-} == --driver ]]; then
  mode+=(--driver)
  shift
fi
(($# >= 2)) || fail "usage: $0 [--display :N] [--driver] WINEPREFIX PROGRAM [ARGUMENT...]"
[[ $1 == /* ]] || fail "the Wine prefix must be an absolute path, not $1"
((EUID == 0)) || fail "needs root, for a mount namespace of its own"
exec unshare --mount --propagation private -- \
  "$BASH" -euo pipefail -c "$(declare -f fail sandbox); sandbox \"\$@\"" wine-sandbox "${mode[@]}" "$@"
