#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds in release mode and prints Zelbin's figures next to baselines measured in the same run;
# writes the same as JSON (bench/results.json, or the path given with --json).
#   ./bench.sh                 full run (about fifteen minutes: the memory row floods for ten)
#   ./bench.sh --quick         small counts, to check that the benchmarks work
#   ./bench.sh --flood-seconds N   length of the memory flood (default 600)
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure-packages.sh
zelbin_ensure_packages
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DZELBIN_TESTS=OFF -DZELBIN_BENCH=ON >/dev/null
cmake --build build-release -j "$(nproc)" --target zelbin_bench zelbin VostraHardwareService
exec ./build-release/bench/zelbin_bench "$@"
