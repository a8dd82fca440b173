#!/bin/sh
# Installs the dependencies, then builds and runs the whole test suite twice:
# a normal build and an AddressSanitizer + UndefinedBehaviorSanitizer build;
# then the programming job and frame tests (EEPROM and FPGA), whose workers run beside the
# window's thread, under ThreadSanitizer.
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
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSPINDLE_TSAN=ON -DSPINDLE_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan -j "$JOBS" --target test_app test_programming
TSAN_OPTIONS="halt_on_error=1" \
ctest --test-dir build-tsan -j "$JOBS" --output-on-failure --timeout 300 -R '^(ProgramJob|EepromImage|EepromProgramming|FpgaJob)'
echo "All tests passed (normal, address/undefined and thread sanitizer builds)."
