#!/usr/bin/env bash
# Renders docs/window.png and docs/message.png from the real window and message box, for the
# README. Run it again whenever the window's look changes.
#   scripts/make-screenshots.sh [BUILD_DIR]
# With "windows", renders docs/window-windows.png and docs/message-windows.png from the Windows
# program under Wine instead, cut from the frame buffer of the Xvfb display its tests use.
#   scripts/make-screenshots.sh windows
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ ${1:-} == windows ]]; then
  build=build-windows
  make --no-print-directory windows >/dev/null
  frames=$(mktemp -d)
  trap 'rm -rf "$frames"' EXIT
  # A prefix of its own with Wine's Marlett in its Fonts folder: Wine draws the caption's buttons
  # with that font, and this Wine does not look for it where fonts-wine puts it, so the close box
  # would show as an "r". The first start in a new prefix draws the caption too late for the
  # picture, so a new prefix gets a pass whose pictures are thrown away.
  prefix=$PWD/$build/wineprefix-screenshots
  new_prefix=
  [[ -e $prefix/system.reg ]] || new_prefix=1
  mkdir -p "$prefix/drive_c/windows/Fonts"
  cp /usr/share/wine/fonts/marlett.ttf "$prefix/drive_c/windows/Fonts/"
  # The program's own output: a name and a window's place on the screen, per picture.
  shoot() {
    OSTRIM_FRAMEBUFFER_DIR=$frames OSTRIM_PROGRAM=$PWD/$build/Ostrim.exe \
      tests/ui/run_window_tests.sh "$PWD/scripts/wine-sandbox.sh" "$prefix" \
      "$PWD/$build/tests/ui/tst_win32_frm_main.exe" --no-skip -tc=screenshots --minimal \
      2>/dev/null | tr -d '\r'
  }
  [[ -z $new_prefix ]] || shoot >/dev/null
  places=$(shoot)
  mkdir -p docs
  while read -r name left top width height; do
    [[ $name == window || $name == message ]] || continue
    xwdtopnm "$frames/$name.xwd" 2>/dev/null | pamcut -left "$left" -top "$top" \
      -width "$width" -height "$height" | pnmtopng >"docs/$name-windows.png"
    echo "wrote docs/$name-windows.png"
  done <<<"$places"
  exit 0
fi

build=${1:-build}
make --no-print-directory configure BUILD="$build"
cmake --build "$build" --target ostrim_screenshots >/dev/null
mkdir -p docs
# The offscreen platform draws with the same default style and font as a plain X desktop, and
# needs no display.
QT_QPA_PLATFORM=offscreen "$build/tests/ui/ostrim_screenshots" docs
echo "wrote docs/window.png and docs/message.png"
