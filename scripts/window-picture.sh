#!/usr/bin/env bash
# Regenerates docs/window.png, the README's picture of the plug-in's window: the window test
# paints the window headless (no display) on a real instance, in pair mode, and keeps the PNG.
#   scripts/window-picture.sh [--build-dir DIR]      (default build/tests)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${VARNHOLT_BUILD_DIR:-$repo/build/tests}
[[ ${1:-} == --build-dir ]] && build_dir=${2:?--build-dir needs a directory}

source "$repo/scripts/configure.sh"
varnholt_configure "$build_dir" Release -DVARNHOLT_BUILD_TESTS=ON -DVARNHOLT_BUILD_BENCH=OFF
make -C "$build_dir" --no-print-directory -j "$jobs" editor_window_tests

# The test creates an instance, which opens the link's sockets: in the private namespace.
"$repo/tests/netns-run" "$build_dir/tests/editor/editor_window_tests" --gtest_filter='EditorWindow.Snapshot*'
mkdir -p "$repo/docs"
cp "$build_dir/tests/editor/window-pair-on.png" "$repo/docs/window.png"
echo "window-picture: wrote docs/window.png"
