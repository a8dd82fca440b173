#!/bin/sh
# Installs the dependencies, then builds and runs the whole test suite twice:
# a normal build and an AddressSanitizer + UndefinedBehaviorSanitizer build.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
JOBS="${JOBS:-$(nproc)}"

run_suite() {
  dir="$1"; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$BUILD_TYPE" "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS"
  ctest --test-dir "$dir" -j "$JOBS" --output-on-failure --timeout 300
}

BUILD_TYPE=RelWithDebInfo run_suite build
ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" \
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
BUILD_TYPE=Debug run_suite build-asan -DSPINDLE_SANITIZE=ON -DSPINDLE_BUILD_BENCH=OFF
echo "All tests passed (normal and sanitizer builds)."
