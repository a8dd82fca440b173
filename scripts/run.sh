#!/bin/sh
# Installs what is needed, builds, and starts the desktop application on the
# simulated demo bench. On a machine without a display it runs the same job
# in the terminal instead: a scan, then Get All Values for every device.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
BUILD_DIR="${BUILD_DIR:-build}"
JOBS="${JOBS:-$(nproc)}"
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display (\$DISPLAY and \$WAYLAND_DISPLAY are empty): running the demo bench with spindle-cli in this terminal instead."
  cmake --build "$BUILD_DIR" -j "$JOBS" --target spindle-cli
  cli="$BUILD_DIR/src/cli/spindle-cli"
  "$cli" --bench demo scan
  # Every device of the scan: "[N] Family - serial" lines, and the Lantern
  # shown under the Kestrel before it.
  devices=$("$cli" --bench demo scan | awk '
    /^[ \t]*\[[0-9]+\]/ { match($0, /\[[0-9]+\]/); index_ = substr($0, RSTART + 1, RLENGTH - 2); print index_ }
    /^[ \t]*Lantern - / { print index_ "/lantern" }')
  for device in $devices; do
    echo
    echo "== spindle-cli --bench demo get $device"
    "$cli" --bench demo get "$device"
  done
  exit 0
fi

cmake --build "$BUILD_DIR" -j "$JOBS" --target spindle
exec "$BUILD_DIR/src/gui/spindle" --bench demo "$@"
