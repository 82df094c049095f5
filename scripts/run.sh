#!/usr/bin/env bash
# Builds the VST3 and the Standalone (Release), installs the VST3 into ~/.vst3 and starts the
# Standalone on this machine's own network, where it finds and reaches the renderer. Without a
# display it only says where both went; `xvfb-run -a scripts/run.sh` gives it a virtual one.
#
#   scripts/run.sh [--build-dir DIR] [--private-net]
#
#   --build-dir DIR   default build/release; VARNHOLT_JOBS caps the jobs
#   --private-net     start it inside a private network namespace with only loopback up (needs
#                     root), so nothing it sends leaves the machine: for development and CI
#                     machines, whose network must not see its multicast. Renderers are then
#                     reachable only on loopback.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${VARNHOLT_BUILD_DIR:-$repo/build/release}
private_net=0

while (($#)); do
    case $1 in
        --build-dir) build_dir=${2:?--build-dir needs a directory}; shift 2 ;;
        --build-dir=*) build_dir=${1#*=}; shift ;;
        --private-net) private_net=1; shift ;;
        -h|--help) awk 'NR > 1 && !/^#/ { exit } NR > 1' "$0"; exit 0 ;;
        *) echo "run.sh: unknown argument '$1'" >&2; exit 2 ;;
    esac
done

source "$repo/scripts/configure.sh"
varnholt_configure "$build_dir" Release -DVARNHOLT_BUILD_TESTS=OFF -DVARNHOLT_BUILD_BENCH=OFF
cmake --build "$build_dir" --parallel "$jobs" --target Varnholt_VST3 Varnholt_Standalone

artefacts=$build_dir/Varnholt_artefacts/Release
bundle=$artefacts/VST3/Varnholt-v2.vst3
standalone=$artefacts/Standalone/Varnholt-v2

mkdir -p "$HOME/.vst3"
rm -rf "$HOME/.vst3/Varnholt-v2.vst3"
cp -R "$bundle" "$HOME/.vst3/"

echo "VST3 bundle:  $bundle"
echo "installed as: $HOME/.vst3/Varnholt-v2.vst3"
echo "Standalone:   $standalone"

if ((private_net)); then
    launch=("$repo/tests/netns-run" "$standalone")
    where="in a private network namespace (loopback only)"
else
    launch=("$standalone")
    where="on this machine's network (--private-net keeps it on loopback)"
fi

if [[ -z ${DISPLAY:-} ]]; then
    echo "No DISPLAY: not starting the Standalone. Start it with a virtual display:"
    echo "  xvfb-run -a ${launch[*]}"
    exit 0
fi

# The namespace has no route to a network display: the X server has to be reachable through its
# socket in /tmp/.X11-unix (DISPLAY=:N).
if ((private_net)) && [[ $DISPLAY != :* ]]; then
    echo "run.sh: DISPLAY=$DISPLAY needs the network; inside the private namespace only a local display (:N) works" >&2
    exit 1
fi

echo "Starting the Standalone $where"
exec "${launch[@]}"
