#!/bin/sh
# Installs every build and test dependency from Debian's packages.
# Idempotent: quiet and quick when everything is already there.
set -eu
PACKAGES="build-essential cmake ninja-build pkg-config libgtest-dev libgmock-dev
  qt6-base-dev libusb-1.0-0-dev libcli11-dev nlohmann-json3-dev xvfb xauth
  umockdev libumockdev-dev sdcc sdcc-ucsim clang libclang-rt-14-dev lintian
  libsqlite3-dev libpq-dev postgresql"
missing=""
for p in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
if [ -n "$missing" ]; then
  echo "Installing:$missing"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  # shellcheck disable=SC2086
  $SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi
