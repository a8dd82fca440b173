#!/bin/sh
# Builds the Debian package from a build folder and checks it: every file a
# system install needs is in it, the programs run from an unpacked copy, and
# lintian finds no error or warning.   scripts/check-package.sh [BUILD-FOLDER]
set -eu
cd "$(dirname "$0")/.."
build="${1:-build}"
(cd "$build" && rm -f spindle_*.deb && cpack -G DEB >/dev/null)
deb=$(ls "$build"/spindle_*_*.deb)
echo "Package: $deb"

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
missing=0
for file in \
  ./usr/bin/spindle ./usr/bin/spindle-cli \
  ./usr/lib/udev/rules.d/60-spindle.rules \
  ./usr/share/spindle/firmware/RaptorFPGA.hex \
  ./usr/share/applications/com.lumora.Spindle.desktop \
  ./usr/share/metainfo/com.lumora.Spindle.metainfo.xml \
  ./usr/share/icons/hicolor/16x16/apps/spindle.png ./usr/share/icons/hicolor/22x22/apps/spindle.png \
  ./usr/share/icons/hicolor/24x24/apps/spindle.png ./usr/share/icons/hicolor/32x32/apps/spindle.png \
  ./usr/share/icons/hicolor/48x48/apps/spindle.png ./usr/share/icons/hicolor/64x64/apps/spindle.png \
  ./usr/share/icons/hicolor/128x128/apps/spindle.png ./usr/share/icons/hicolor/256x256/apps/spindle.png \
  ./usr/share/icons/hicolor/scalable/apps/spindle.svg \
  ./usr/share/man/man1/spindle.1.gz ./usr/share/man/man1/spindle-cli.1.gz \
  ./usr/share/bash-completion/completions/spindle-cli \
  ./usr/share/doc/spindle/copyright ./usr/share/doc/spindle/changelog.gz; do
  if ! printf '%s\n' "$contents" | grep -qx -- "$file"; then
    echo "missing from the package: $file" >&2
    missing=1
  fi
done
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6widgets6 libusb-1.0-0 libstdc++6 libpq5; do
  case "$depends" in
    *"$library"*) ;;
    *) echo "the package does not depend on $library: $depends" >&2; missing=1 ;;
  esac
done
grep -q '^Name=Spindle$' <<EOT || { echo "the desktop entry is not named Spindle" >&2; missing=1; }
$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/applications/com.lumora.Spindle.desktop)
EOT
[ "$missing" -eq 0 ]

# The programs from an unpacked copy, away from the build tree: the version,
# the demo bench's scan, and an FPGA design streamed through the player the
# copy carries in its share folder.
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
version=$("$root/usr/bin/spindle-cli" --version)
echo "$version"
[ "$version" = "spindle-cli $(dpkg-deb -f "$deb" Version)" ]
SPINDLE_CONFIG_DIR="$root/config" SPINDLE_VIRTUAL_CLOCK=1 "$root/usr/bin/spindle-cli" --bench demo scan >"$root/scan.txt"
grep -q 'Osprey' "$root/scan.txt" || { echo "the unpacked spindle-cli's scan shows no Osprey:" >&2; cat "$root/scan.txt" >&2; exit 1; }
SPINDLE_CONFIG_DIR="$root/config" SPINDLE_VIRTUAL_CLOCK=1 "$root/usr/bin/spindle-cli" --bench demo \
  program-fpga 6 examples/demo-design.xsvf >"$root/fpga.txt" 2>&1 ||
  { echo "the unpacked spindle-cli could not program an FPGA with its own player:" >&2; cat "$root/fpga.txt" >&2; exit 1; }
QT_QPA_PLATFORM=offscreen "$root/usr/bin/spindle" --version

# lintian: no errors and no warnings (its informational notes are allowed).
if lintian --fail-on error,warning "$deb"; then
  echo "lintian: no errors or warnings"
else
  echo "lintian found problems in $deb" >&2
  exit 1
fi
