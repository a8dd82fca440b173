#!/bin/sh
# Writes screenshots of the window on the demo bench, under Xvfb so no
# display is needed: docs/screenshot.png (a Kestrel selected, its values in
# the list) and docs/screenshot-manufacturing.png (manufacturing mode, both
# bars). Settings go to a temporary folder; the operator's are not touched.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
BUILD_DIR="${BUILD_DIR:-build}"
JOBS="${JOBS:-$(nproc)}"
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" -j "$JOBS" --target spindle
spindle="$BUILD_DIR/src/gui/spindle"

config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT INT TERM
mkdir -p docs

# shot CONFIG_DIR DEVICE OUTPUT
shot() {
  SPINDLE_CONFIG_DIR="$1" xvfb-run -a -s "-screen 0 1280x900x24" \
    "$spindle" --bench demo --select "$2" --screenshot "$3" --screenshot-delay 1000
  echo "Wrote $3"
}

mkdir -p "$config/plain" "$config/manufacturing"
# A window, tree pane and columns wide enough to show every text whole.
layout='SplitterColumnSize=270\nItemWidth=340\nDataWidth=230\n'
placement='[Profile\\MainWindowSize]\nWindowPos=0,1,-1,-1,-1,-1,0,0,1100,700\n'
printf "[Settings]\n$layout$placement" > "$config/plain/Spindle.ini"
shot "$config/plain" "[0] Kestrel - KES10234" docs/screenshot.png

printf "[Settings]\nManufacturing=1\n$layout$placement" > "$config/manufacturing/Spindle.ini"
shot "$config/manufacturing" "[4] Kestrel+ - KSP00312" docs/screenshot-manufacturing.png
