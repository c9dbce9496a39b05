#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds Zelbin and runs every test through ctest, then the library tests again under
# AddressSanitizer + UndefinedBehaviorSanitizer and the threaded ones under ThreadSanitizer.
# Then the Windows build runs its tests under Wine, each fuzz target runs for a bounded time
# (ZELBIN_FUZZ_SECONDS, default 15) in a clang build, and the benchmarks run once in their quick form.
#   ./test.sh            everything
#   ./test.sh --quick    the plain build only
set -euo pipefail
cd "$(dirname "$0")"
source scripts/ensure-packages.sh
zelbin_ensure_packages test

jobs=$(nproc)
# Most plain tests wait on sockets, child processes and timers rather than on the CPU, so four
# run per CPU; the sanitizer builds are CPU-bound and run one per CPU.
test_jobs=$((4 * jobs))
quick=0
[ "${1:-}" = "--quick" ] && quick=1

summary=build/test-counts.txt
mkdir -p build && : >"$summary"
# Keeps a ctest log's counts for the closing line: the tests, and those that skipped themselves.
count_tests() {
    echo "$(grep -oE 'tests failed out of [0-9]+' "$1" | grep -oE '[0-9]+$') $(grep -c '(Skipped)$' "$1")" >>"$summary"
}
# Runs ctest and keeps its counts.
run_ctest() {
    local log
    log=$(mktemp)
    ctest "$@" | tee "$log"
    count_tests "$log"
    rm -f "$log"
}

build() { # dir, extra cmake arguments...
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
}

echo "== build and test (debug) =="
build build -DCMAKE_BUILD_TYPE=Debug
run_ctest --test-dir build --output-on-failure --no-tests=error -j "$test_jobs"

closing() { awk '{ n += $1; s += $2 } END { printf "tests: %d passed, %d skipped, 0 failed\n", n - s, s }' "$summary"; }
((quick)) && { closing; exit 0; }
export ZELBIN_FUZZ_SECONDS

echo "== every test under AddressSanitizer + UndefinedBehaviorSanitizer =="
build build-asan -DCMAKE_BUILD_TYPE=Debug -DZELBIN_SANITIZE=address,undefined
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp \
    run_ctest --test-dir build-asan --output-on-failure -j "$jobs" --no-tests=error

echo "== messages, transport, service client and service tests under ThreadSanitizer =="
# Without the window: its tests are not in this stage, and the build shows that everything else
# builds without Qt.
build build-tsan -DCMAKE_BUILD_TYPE=Debug -DZELBIN_SANITIZE=thread -DZELBIN_GUI=OFF
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    run_ctest --test-dir build-tsan --output-on-failure -j "$jobs" --no-tests=error -L "base|messages|transport|service|logdoc"

echo "== Windows build under Wine: messages, transport, service client, stand-in, zelbinctl, mixed pairs =="
wine_start=$SECONDS
scripts/wine-tests.sh build/bin | tee build/wine-tests.log
count_tests build/wine-tests.log
echo "Windows stage: $((SECONDS - wine_start)) s"

echo "== fuzz targets, ${ZELBIN_FUZZ_SECONDS:=15} s each (clang, libFuzzer, ASan + UBSan) =="
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELBIN_FUZZ=ON \
    "-DZELBIN_SANITIZE=address,undefined,fuzzer-no-link" >/dev/null
targets=(deserialise frame)
cmake --build build-fuzz -j "$jobs" --target "${targets[@]/#/fuzz_}"
failed=0
for t in "${targets[@]}"; do
    corpus=$(mktemp -d)
    cp tests/fuzz/corpus/"$t"/* "$corpus"/
    # A crash leaves its input as build-fuzz/crash-*: add it to tests/fuzz/corpus/$t to keep it.
    if ASAN_OPTIONS=detect_leaks=1 ./build-fuzz/tests/fuzz/fuzz_"$t" -max_total_time="$ZELBIN_FUZZ_SECONDS" \
        -max_len=4096 -rss_limit_mb=2048 -artifact_prefix=build-fuzz/ "$corpus" >"build-fuzz/fuzz_$t.log" 2>&1; then
        echo "fuzz_$t: $(grep -E '^Done' "build-fuzz/fuzz_$t.log")"
    else
        echo "fuzz_$t FAILED:"; tail -n 40 "build-fuzz/fuzz_$t.log"; failed=1
    fi
    rm -rf "$corpus"
done
((failed)) && exit 1

echo "== Debian package: lintian, AppStream metadata, desktop entry, the unpacked programs =="
./package.sh >/dev/null
tests/package_test.sh build-release/zelbin_*_amd64.deb

echo "== benchmarks, quick run (no thresholds: it checks that they work) =="
./bench.sh --quick --json build-release/results.json
closing
