#!/bin/sh
# Writes screenshots of the window on the demo bench, under Xvfb so no
# display is needed: docs/screenshot.png (a Kestrel selected, its values in
# the list), docs/screenshot-manufacturing.png (manufacturing mode, both
# bars) and docs/screenshot-programming.png (three EEPROM jobs counting
# down, on devices of both chip generations, and an FPGA job), and the PSOC
# Diags. sheet of a Falcon, a Condor and an Ibis-family Gannet
# (docs/screenshot-psoc-falcon.png, -condor.png, -ibis.png), Calibrate on
# the Kestrel's Lantern (docs/screenshot-lantern-calibration.png) and Extra
# Kestrel Settings (docs/screenshot-extra-kestrel.png), and the window
# without a bench on a machine with no instrument
# (docs/screenshot-first-run.png); on a bench whose Kestrels arrive one
# after another (examples/bench-arrivals.json), the window once its tree
# has followed two arrivals (docs/screenshot-arrivals.png) and the Station
# view programming them (docs/screenshot-station.png). Settings go to a
# temporary folder; the operator's are not touched.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
BUILD_DIR="${BUILD_DIR:-build}"
JOBS="${JOBS:-$(nproc)}"
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" -j "$JOBS" --target spindle spindle_fpga_player
spindle="$BUILD_DIR/src/gui/spindle"

config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT INT TERM
mkdir -p docs

# shot CONFIG_DIR DEVICE OUTPUT [OPTION...]
shot() {
  dir=$1 device=$2 output=$3
  shift 3
  SPINDLE_CONFIG_DIR="$dir" xvfb-run -a -s "-screen 0 1280x900x24" \
    "$spindle" --bench demo --select "$device" --screenshot "$output" --screenshot-delay 1000 "$@"
  echo "Wrote $output"
}

mkdir -p "$config/plain" "$config/manufacturing"
# The window at 1100 x 700, the tree pane and the columns as a first start
# lays them out: every text shows whole without any width set.
placement='[Profile\\MainWindowSize]\nWindowPos=0,1,-1,-1,-1,-1,0,0,1100,700\n'
printf "[Settings]\n$placement" > "$config/plain/Spindle.ini"
shot "$config/plain" "[0] Kestrel - KES10234" docs/screenshot.png

printf "[Settings]\nManufacturing=1\n$placement" > "$config/manufacturing/Spindle.ini"
shot "$config/manufacturing" "[4] Kestrel+ - KSP00312" docs/screenshot-manufacturing.png

# Three EEPROM jobs on a bench slowed to 1.5 s per vendor request, so they
# are still running when the window is grabbed: 16 KiB images, one per chip
# generation; and the example design into device 7's FPGA.
mkdir -p "$config/programming"
printf "[Settings]\n$placement" > "$config/programming/Spindle.ini"
head -c 16383 /dev/zero | tr '\0' '\125' > "$config/body"
{ printf '\262'; cat "$config/body"; } > "$config/ezusb.iic"
{ printf '\302'; cat "$config/body"; } > "$config/fx2.iic"
shot "$config/programming" "[6] Falcon - FAL01204" docs/screenshot-programming.png \
  --slow-requests 1500 --program "0:$config/ezusb.iic" --program "3:$config/ezusb.iic" \
  --program "6:$config/fx2.iic" --program "7:examples/demo-design.xsvf" --screenshot-delay 3500

# PSOC Diags. on one device of each PSOC family: the sheet is grabbed once
# its page has started (and the Condor and Ibis pages have polled).
mkdir -p "$config/psoc"
printf "[Settings]\nManufacturing=1\n$placement" > "$config/psoc/Spindle.ini"
shot "$config/psoc" "[6] Falcon - FAL01204" docs/screenshot-psoc-falcon.png --psoc
shot "$config/psoc" "[8] Condor - CON00077" docs/screenshot-psoc-condor.png --psoc
shot "$config/psoc" "[9] Gannet - GAN00145" docs/screenshot-psoc-ibis.png --psoc

# Calibrate on the demo Kestrel's Lantern, and Extra Kestrel on the Kestrel
# itself: each dialog is grabbed once it has started and closed with Cancel.
mkdir -p "$config/accessory"
printf "[Settings]\n$placement" > "$config/accessory/Spindle.ini"
shot "$config/accessory" "Lantern - LAN00231" docs/screenshot-lantern-calibration.png --calibrate
shot "$config/accessory" "[0] Kestrel - KES10234" docs/screenshot-extra-kestrel.png --extra-kestrel

# Kestrels arriving 1 s apart, on a copy of the bench file (the station's
# jobs write into it): the window with the first one selected, grabbed after
# the next two have arrived; then the Station view on the Kestrel family
# with an image whose header boots as a Kestrel, grabbed once the last
# arrival's loader has failed and the others have come back.
mkdir -p "$config/arrivals"
printf "[Settings]\n$placement" > "$config/arrivals/Spindle.ini"
cp examples/bench-arrivals.json "$config/arrivals/bench.json"
SPINDLE_CONFIG_DIR="$config/arrivals" xvfb-run -a -s "-screen 0 1280x900x24" \
  "$spindle" --bench "$config/arrivals/bench.json" --select "[0] Kestrel - KES30001" \
  --screenshot docs/screenshot-arrivals.png --screenshot-delay 1300
echo "Wrote docs/screenshot-arrivals.png"
cp examples/bench-arrivals.json "$config/arrivals/bench.json"
{ printf '\262\127\372\002\020\000\001'; head -c 4089 "$config/body"; } > "$config/kestrel.iic"
SPINDLE_CONFIG_DIR="$config/arrivals" xvfb-run -a -s "-screen 0 1280x900x24" \
  "$spindle" --bench "$config/arrivals/bench.json" --station "Kestrel:$config/kestrel.iic" \
  --screenshot docs/screenshot-station.png --screenshot-delay 3500
echo "Wrote docs/screenshot-station.png"

# No bench: the USB devices, of which a build machine has none; the list
# area says why it is empty.
mkdir -p "$config/first-run"
printf "[Settings]\n$placement" > "$config/first-run/Spindle.ini"
SPINDLE_CONFIG_DIR="$config/first-run" xvfb-run -a -s "-screen 0 1280x900x24" \
  "$spindle" --screenshot docs/screenshot-first-run.png --screenshot-delay 1000
echo "Wrote docs/screenshot-first-run.png"
