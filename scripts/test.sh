#!/bin/sh
# Installs the dependencies, then builds and runs the whole test suite twice:
# a normal build and an AddressSanitizer + UndefinedBehaviorSanitizer build;
# then every test that starts a worker thread under ThreadSanitizer, and
# every fuzz target for a bounded number of inputs.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
JOBS="${JOBS:-$(nproc)}"

run_suite() {
  dir="$1"; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$BUILD_TYPE" -DSPINDLE_UNITY_BUILD=ON "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS"
  ctest --test-dir "$dir" -j "$JOBS" --output-on-failure --timeout 300 ${SKIP:+-E "$SKIP"}
}

# The history store's PostgreSQL cases must run here, not skip: the server
# they start is Debian's postgresql package, which install-deps.sh brings.
SPINDLE_TEST_REQUIRE_POSTGRES=1 BUILD_TYPE=RelWithDebInfo run_suite build
# The Debian package from that build: its files, its programs, lintian.
./scripts/check-package.sh build
# The fault matrix (some 1,200 runs of the command-line tool, each
# with a device unplugged somewhere) runs in the build above only: under the
# sanitizers it alone took four minutes, and the code it drives runs under
# them in the command-line tool's own suite.
ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" \
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
SKIP='^FaultMatrixTest\.' BUILD_TYPE=Debug run_suite build-asan -DSPINDLE_SANITIZE=ON -DSPINDLE_BUILD_BENCH=OFF
# Every test that starts a worker thread (EEPROM and FPGA jobs side by side,
# a scan and a close beside running jobs, the bench's workers, the
# command-line tool's jobs, the window's jobs and boxes from workers, jobs
# through libusb on emulated buses).
TSAN_TESTS='^(ProgramJob|EepromProgramming|FpgaJob|VirtualClock|PacedJobs|SimBenchFileTest\.BenchesSharingAFile|SpindleCliTest\.Program(Writes|Names)|MainWindowTest|LibusbOverEmulation\.Jobs)'
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSPINDLE_UNITY_BUILD=ON -DSPINDLE_TSAN=ON -DSPINDLE_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan -j "$JOBS" --target test_app test_programming test_platform test_sim test_cli spindle-cli test_gui test_usbemu
TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/tests/tsan-suppressions.txt" \
ctest --test-dir build-tsan -j "$JOBS" --output-on-failure --timeout 300 -R "$TSAN_TESTS"
# Every fuzz target over its seeds and a bounded number of new inputs
# (clang's libFuzzer, with AddressSanitizer and UndefinedBehaviorSanitizer).
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSPINDLE_FUZZ=ON \
  -DSPINDLE_BUILD_TESTS=OFF -DSPINDLE_BUILD_BENCH=OFF -DSPINDLE_BUILD_GUI=OFF -DSPINDLE_UNITY_BUILD=ON >/dev/null
cmake --build build-fuzz -j "$JOBS" --target fuzzers
ctest --test-dir build-fuzz -j "$JOBS" --output-on-failure -L fuzz
echo "All tests passed (normal, address/undefined and thread sanitizer builds, fuzz targets)."
