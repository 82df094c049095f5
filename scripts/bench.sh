#!/usr/bin/env bash
# Builds the benchmarks (Release) and runs each inside a private network namespace with only
# loopback up. Extra arguments go to every benchmark program, e.g.
#   scripts/bench.sh --benchmark_filter=ProcessBlock --benchmark_repetitions=3
# VARNHOLT_BUILD_DIR (default build/bench) and VARNHOLT_JOBS (default all cores) can be set.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${VARNHOLT_BUILD_DIR:-$repo/build/bench}

source "$repo/scripts/configure.sh"
varnholt_configure "$build_dir" Release -DVARNHOLT_BUILD_TESTS=OFF -DVARNHOLT_BUILD_BENCH=ON
make -C "$build_dir/bench" --no-print-directory -j "$jobs" all

# The window's benchmark paints into images: no X display, and none of the machine's to join
# (JUCE would take ":0.0" for a missing DISPLAY).
export DISPLAY=none

for program in bench_process bench_idle bench_link bench_editor; do
    echo "== $program"
    "$repo/tests/netns-run" "$build_dir/bench/$program" "$@"
done
