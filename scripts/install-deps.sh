#!/usr/bin/env bash
# Installs the dependencies that are missing, with apt-get, for one group:
#
#   scripts/install-deps.sh [run|test|bench|windows|package]    (default: test)
#
# run is what building and running the program needs; test adds the tests' tools and everything
# the other targets of a development machine use. Before it installs, it says how many packages
# and how many megabytes that will be; apt's own progress follows. Silent when nothing is missing.
set -euo pipefail
group=${1:-test}

# The program: the compiler, Qt 6, and CLI11 for the command line.
packages=(cmake make g++ pkg-config qt6-base-dev libgl-dev libcli11-dev)
if [[ $group != run ]]; then
  packages+=(
    # The core's tests, and the fuzzers' compiler.
    doctest-dev clang libclang-rt-dev
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
    ser2net iproute2)
fi
case $group in
  run | test) ;;
  bench) packages+=(libbenchmark-dev xvfb xauth libxcb1-dev libxcb-damage0-dev dbus-daemon
    python3-serial) ;;
  # All that `make windows` and `make test-windows` need: no Qt, only the cross compiler, Wine to
  # run the tests, doctest and CLI11 (header-only, for both platforms), Python for the test that
  # drives pseudo-terminals beside Wine, and what the window's tests need.
  windows) packages=(cmake make doctest-dev libcli11-dev g++-mingw-w64-x86-64-posix wine64 python3
    # The icon writer, built for this machine; a display for the window's tests, and netpbm to
    # cut the screenshots from it.
    g++ pkg-config libxpm-dev libpng-dev xvfb netpbm
    # Marlett, for the caption buttons in the screenshots; the device server for the network
    # line's tests.
    fonts-wine ser2net
    # The icon's larger images, rendered from the scalable icon, and the zip.
    librsvg2-bin zip) ;;
  package) packages+=(lintian debootstrap) ;;
  *) echo "install-deps: unknown group '$group' (run, test, bench, windows, package)" >&2
     exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ $status == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -eq 0 ]]; then
  as_root=()
elif command -v sudo >/dev/null; then
  # sudo clears the environment: apt's configuration scripts would otherwise look for a terminal
  # to ask their questions on.
  as_root=(sudo env DEBIAN_FRONTEND=noninteractive)
else
  echo "install-deps: need root or sudo to install: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
install=(apt-get install -y --no-install-recommends)

echo "install-deps: reading the package lists"
if ! log=$("${as_root[@]}" apt-get update -qq 2>&1); then
  echo "$log" >&2
  echo "install-deps: could not read the package lists" >&2
  exit 1
fi
# What apt would fetch, one line per archive: 'URI' file size checksum.
if ! uris=$("${as_root[@]}" "${install[@]}" --print-uris -qq "${missing[@]}" 2>&1); then
  echo "$uris" >&2
  echo "install-deps: could not install: ${missing[*]}" >&2
  exit 1
fi
new=$("${as_root[@]}" "${install[@]}" --simulate -qq "${missing[@]}" | grep -c '^Inst ' || true)
megabytes=$(awk '/^'\''/ { bytes += $3 } END { printf "%.1f", bytes / 1e6 }' <<<"$uris")
target=$group
[[ $group != package ]] || target=package-check
echo "install-deps: \`make $target\` needs ${missing[*]}:" \
  "$new packages with what they depend on, $megabytes MB to download"
# Without apt-utils, debconf notes on the error output that it configures the packages later.
"${as_root[@]}" "${install[@]}" -q -o Dpkg::Use-Pty=0 "${missing[@]}" \
  2> >(grep -v '^debconf: delaying package configuration' >&2)
