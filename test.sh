#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds Zelbin and runs every test through ctest, then the library tests again under
# AddressSanitizer + UndefinedBehaviorSanitizer and the threaded ones under ThreadSanitizer.
#   ./test.sh            everything
#   ./test.sh --quick    the plain build only
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure-packages.sh
zelbin_ensure_packages

jobs=$(nproc)
quick=0
[ "${1:-}" = "--quick" ] && quick=1

build() { # dir, extra cmake arguments...
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
}

echo "== build and test (debug) =="
build build -DCMAKE_BUILD_TYPE=Debug
ctest --test-dir build --output-on-failure --no-tests=error -j "$jobs"

((quick)) && exit 0

echo "== every test under AddressSanitizer + UndefinedBehaviorSanitizer =="
build build-asan -DCMAKE_BUILD_TYPE=Debug -DZELBIN_SANITIZE=address,undefined
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp \
    ctest --test-dir build-asan --output-on-failure -j "$jobs" --no-tests=error

echo "== transport, service client and service tests under ThreadSanitizer =="
build build-tsan -DCMAKE_BUILD_TYPE=Debug -DZELBIN_SANITIZE=thread
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --test-dir build-tsan --output-on-failure -j "$jobs" --no-tests=error -L "transport|service"
