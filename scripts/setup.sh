#!/usr/bin/env bash
# Installs the Debian packages that building, testing, benchmarking and running the plug-in need.
# Safe to run again: when every package is already installed it touches nothing.
set -euo pipefail

packages=(
    # build
    cmake make g++ pkg-config ccache
    juce-modules-source juce-tools
    # tests and benchmarks
    libgtest-dev libbenchmark-dev
    # network peers for the tests: OSC and mDNS
    liblo-tools python3 python3-liblo python3-zeroconf
    # private network namespaces (ip, unshare)
    iproute2 util-linux
    # a display for the Standalone and editor tests on a machine without one
    xvfb xauth fonts-dejavu-core
    # real input and screen reads for the Standalone's end-to-end test
    xdotool x11-apps
)

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ $status == "install ok installed" ]] || missing+=("$package")
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

echo "setup: installing ${missing[*]}"

sudo=()
if ((EUID != 0)); then
    command -v sudo >/dev/null || { echo "setup: run as root or install sudo" >&2; exit 1; }
    sudo=(sudo)
fi

export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
