#!/usr/bin/env bash
# Installs the build and test dependencies that are missing, with apt-get. Quiet on success.
set -euo pipefail

packages=(
  cmake make g++ pkg-config
  qt6-base-dev qt6-serialport-dev libgl-dev
  # The core's tests and the command line's options, which build for Windows too.
  doctest-dev libcli11-dev
  clang libclang-rt-dev
  # The window's tests: a font to measure captions with, the desktop entry's validator, and a
  # Windows resource compiler to check the resource script with.
  fonts-dejavu-core desktop-file-utils binutils-mingw-w64-x86-64
  # The icon writer: libXpm reads the icon's images, libpng writes the desktop's icons.
  libxpm-dev libpng-dev
  # The scalable icon's renderer, the AppStream validator and man, for the resources' tests;
  # dpkg-buildflags and dpkg-shlibdeps for `make package`.
  qt6-svg-dev appstream man-db dpkg-dev
  # The network line's tests: a device server to send through, and ip for the loopback of the
  # namespace that the resolver's cases run in.
  ser2net iproute2
)
# `install-deps.sh bench` adds what only `make bench` needs.
if [[ ${1:-} == bench ]]; then
  packages+=(libbenchmark-dev xvfb xauth libxcb1-dev libxcb-damage0-dev dbus-daemon python3-serial)
fi
# `install-deps.sh windows` is all that `make windows` and `make test-windows` need: no Qt, only
# the cross compiler, Wine to run the tests, doctest and CLI11 (header-only, for both platforms),
# Python for the test that drives pseudo-terminals beside Wine, and what the window's tests need.
if [[ ${1:-} == windows ]]; then
  packages=(cmake make doctest-dev libcli11-dev g++-mingw-w64-x86-64-posix wine64 python3
    # The icon writer, built for this machine; a display for the window's tests, and netpbm to
    # cut the screenshots from it.
    g++ pkg-config libxpm-dev libpng-dev xvfb netpbm
    # Marlett, for the caption buttons in the screenshots; the device server for the network
    # line's tests.
    fonts-wine ser2net)
fi
# `install-deps.sh package` adds what only `make package-check` needs.
if [[ ${1:-} == package ]]; then
  packages+=(lintian debootstrap)
fi

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ $status == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -eq 0 ]]; then
  as_root=()
elif command -v sudo >/dev/null; then
  as_root=(sudo)
else
  echo "install-deps: need root or sudo to install: ${missing[*]}" >&2
  exit 1
fi

log=$(mktemp)
trap 'rm -f "$log"' EXIT
export DEBIAN_FRONTEND=noninteractive
if ! { "${as_root[@]}" apt-get update -qq &&
       "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "install-deps: could not install: ${missing[*]}" >&2
  exit 1
fi
