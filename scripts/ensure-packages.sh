#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages that Zelbin needs, when missing. Sourced by run.sh, test.sh,
# bench.sh and package.sh; runs apt-get only when something is absent, and says what it installs
# before it does.
#   zelbin_ensure_packages run     what building and running the window, zelbinctl and the
#                                  stand-in service need (run.sh)
#   zelbin_ensure_packages test    that and what the tests, benchmarks and package need (test.sh)
set -euo pipefail

# Building and running: the compiler, Qt's widgets (and its SVG plugin for the icons), Boost's
# signals, RE2 for the log tool's patterns, zelbinctl's command line, JSON and HTTP libraries.
ZELBIN_RUN_PACKAGES=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev libqt6svg6 libgl-dev libboost-dev libre2-dev
    libcli11-dev nlohmann-json3-dev libcpp-httplib-dev
)

# Testing: GoogleTest; clang for the fuzzers; ZeroMQ as a benchmark's baseline; network
# namespaces and process tools; a virtual display for the real window; the capture, metrics and
# packaging tools the ecosystem tests drive; the Windows cross build and Wine.
ZELBIN_TEST_PACKAGES=(
    libgtest-dev libgmock-dev clang libclang-rt-14-dev libzmq3-dev
    iproute2 util-linux procps
    xvfb xauth xdotool imagemagick
    prometheus tshark tcpdump
    dpkg-dev lintian help2man appstream desktop-file-utils
    g++-mingw-w64-x86-64-posix wine64 googletest
)

zelbin_ensure_packages() { # run | test
    local wanted=("${ZELBIN_RUN_PACKAGES[@]}")
    [ "${1:-test}" = run ] || wanted+=("${ZELBIN_TEST_PACKAGES[@]}")
    local missing=()
    for p in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    ((${#missing[@]})) || return 0
    echo "Installing ${#missing[@]} missing packages (with what they depend on): ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
}
