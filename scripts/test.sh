#!/usr/bin/env bash
# Builds what the tests need and runs them all with ctest. Exits non-zero when anything fails.
#
#   scripts/test.sh                          plain Release build in build/tests
#   scripts/test.sh --sanitizer thread       ThreadSanitizer build in build/tests-thread
#   scripts/test.sh --sanitizer address      AddressSanitizer + UBSan build in build/tests-address
#   scripts/test.sh --build-dir DIR          any of these in DIR instead
#
# The same can be chosen with VARNHOLT_SANITIZER and VARNHOLT_BUILD_DIR; VARNHOLT_JOBS caps the
# parallel jobs (all cores by default). Every test that creates
# the plug-in wraps itself in tests/netns-run, a private network namespace with only loopback up.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
sanitizer=${VARNHOLT_SANITIZER:-}
build_dir=${VARNHOLT_BUILD_DIR:-}

while (($#)); do
    case $1 in
        --sanitizer) sanitizer=${2:?--sanitizer needs thread or address}; shift 2 ;;
        --sanitizer=*) sanitizer=${1#*=}; shift ;;
        --build-dir) build_dir=${2:?--build-dir needs a directory}; shift 2 ;;
        --build-dir=*) build_dir=${1#*=}; shift ;;
        -h|--help) awk 'NR > 1 && !/^#/ { exit } NR > 1' "$0"; exit 0 ;;
        *) echo "test.sh: unknown argument '$1'" >&2; exit 2 ;;
    esac
done

case $sanitizer in
    "") build_type=Release; build_dir=${build_dir:-$repo/build/tests} ;;
    thread|address) build_type=RelWithDebInfo; build_dir=${build_dir:-$repo/build/tests-$sanitizer} ;;
    *) echo "test.sh: unknown sanitizer '$sanitizer' (thread or address)" >&2; exit 2 ;;
esac

source "$repo/scripts/configure.sh"
varnholt_configure "$build_dir" "$build_type" -DVARNHOLT_BUILD_TESTS=ON -DVARNHOLT_BUILD_BENCH=OFF \
    -DVARNHOLT_SANITIZER="$sanitizer"

# Only what the tests need: every target under tests/ with its dependencies (such as the VST3
# bundle that the host test loads and, outside the sanitizer builds, the Standalone that the
# window's end-to-end test drives).
make -C "$build_dir/tests" --no-print-directory -j "$jobs" all

if [[ $sanitizer == thread ]]; then
    export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1 second_deadlock_stack=1}
elif [[ $sanitizer == address ]]; then
    export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1 halt_on_error=1}
fi

ctest --test-dir "$build_dir" --output-on-failure --no-tests=error --timeout 900 -j "$jobs"
