#!/bin/sh
# Runs one fuzz target for as long as wanted:  scripts/fuzz.sh TARGET SECONDS
# TARGET is one of fuzz/*.cpp without the extension (bench_file, profile_text,
# profile_store, values_backup, intel_hex, download, xsvf_check, slot_values,
# kestrel_slots, chip_8051). Builds build-fuzz with clang first. New inputs
# are kept in build-fuzz/fuzz/work/TARGET (the seeds in fuzz/corpus are only
# read); a failing input is written there as crash-*, and
#   build-fuzz/fuzz/fuzz_TARGET build-fuzz/fuzz/work/TARGET/crash-...
# runs it again. Copy an input worth keeping into fuzz/corpus/TARGET.
set -eu
cd "$(dirname "$0")/.."
if [ $# -ne 2 ]; then
  echo "usage: $0 TARGET SECONDS" >&2
  exit 2
fi
target="$1"; seconds="$2"
if [ ! -f "fuzz/$target.cpp" ]; then
  echo "$0: no fuzz target named $target (see fuzz/*.cpp)" >&2
  exit 2
fi
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSPINDLE_FUZZ=ON \
  -DSPINDLE_BUILD_TESTS=OFF -DSPINDLE_BUILD_BENCH=OFF -DSPINDLE_BUILD_GUI=OFF -DSPINDLE_UNITY_BUILD=ON >/dev/null
cmake --build build-fuzz --target "fuzz_$target"
work="build-fuzz/fuzz/work/$target"
mkdir -p "$work"
exec "build-fuzz/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len=4096 -timeout=20 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$work/" "$work" "fuzz/corpus/$target"
