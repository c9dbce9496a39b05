#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian package in release mode: build-release/zelbin_<version>_amd64.deb.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure-packages.sh
zelbin_ensure_packages test
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DZELBIN_TESTS=OFF >/dev/null
cmake --build build-release -j "$(nproc)"
(cd build-release && cpack -G DEB >/dev/null)
ls build-release/zelbin_*_amd64.deb
