#!/usr/bin/env bash
# Runs a Windows program that drives the window under Wine, on an Xvfb display of its own that is
# stopped again afterwards, in a Wine prefix of its own: the tests change the prefix's DPI, and
# other tests' Wine runs share the build's prefix and have no display.
#
#   run_window_tests.sh SANDBOX WINEPREFIX PROGRAM [ARGUMENT...]
#   run_window_tests.sh --driver SANDBOX WINEPREFIX DRIVER [ARGUMENT...]
#
# With --driver, DRIVER is a native program run in the sandbox with the display (see
# wine-sandbox.sh --driver); it readies the prefix itself, since the Wine server it talks to is
# its own.
set -euo pipefail

driver=
if [[ $1 == --driver ]]; then
  driver=--driver
  shift
fi
sandbox=$1 prefix=$2
shift 2
scratch=$(mktemp -d)
xvfb=
cleanup() {
  [[ -z $xvfb ]] || kill "$xvfb" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

# The server picks a free display and names it on descriptor 3; a screen of its own in memory,
# kept in $OSTRIM_FRAMEBUFFER_DIR when a caller wants to cut pictures from it.
fbdir=()
[[ -z ${OSTRIM_FRAMEBUFFER_DIR:-} ]] || fbdir=(-fbdir "$OSTRIM_FRAMEBUFFER_DIR")
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp "${fbdir[@]}" 3>"$scratch/display" \
  >"$scratch/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 100); do
  [[ -s $scratch/display ]] && break
  kill -0 "$xvfb" 2>/dev/null || { cat "$scratch/xvfb.log" >&2; exit 1; }
  sleep 0.1
done
display=:$(head -n1 "$scratch/display")

if [[ -n $driver ]]; then
  "$sandbox" --display "$display" --driver "$prefix" "$@"
  exit
fi
run() { "$sandbox" --display "$display" "$prefix" "$@"; }
run wineboot --init
# A desktop of Wine's own inside the display: no window manager is needed to place, activate and
# give the keyboard to the windows, as a Windows desktop does.
run reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null
run reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x600 /f >/dev/null
OSTRIM_SCRATCH=$scratch run "$@"
