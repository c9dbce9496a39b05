#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages that the build, the tests and the programs need, when missing.
# Sourced by run.sh and test.sh; runs apt-get only when something is absent.
set -euo pipefail

ZELBIN_PACKAGES=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev libqt6svg6 libgl-dev libboost-dev
    libgtest-dev libgmock-dev clang libclang-rt-14-dev libzmq3-dev
    libcli11-dev nlohmann-json3-dev libcpp-httplib-dev prometheus
    libre2-dev
    iproute2 util-linux procps
    xvfb xauth xdotool imagemagick
    tshark tcpdump
    dpkg-dev lintian help2man appstream desktop-file-utils
    g++-mingw-w64-x86-64-posix wine64 googletest
)

zelbin_ensure_packages() {
    local missing=()
    for p in "${ZELBIN_PACKAGES[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if ((${#missing[@]})); then
        echo "Installing missing packages: ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
        $sudo apt-get update
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
    fi
}
