#!/usr/bin/env bash
# Renders docs/window.png and docs/message.png from the real window and message box, for the
# README. Run it again whenever the window's look changes.
#   scripts/make-screenshots.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
make --no-print-directory configure BUILD="$build"
cmake --build "$build" --target ostrim_screenshots >/dev/null
mkdir -p docs
# The offscreen platform draws with the same default style and font as a plain X desktop, and
# needs no display.
QT_QPA_PLATFORM=offscreen "$build/tests/ui/ostrim_screenshots" docs
echo "wrote docs/window.png and docs/message.png"
